#!/bin/bash
# Whole-program benchmarks: builds what they need, starts the fake tracking
# and maker server, runs everything under Wine on a virtual display and
# prints one table, then the extraction and fetch-wait benchmarks.
#   scripts/bench.sh [BUILD_DIR]      default build/bench-win
# BUILD_DIR may be an existing test build (hosts 127.0.0.1:18761/18762); the
# naive comparison program is switched on in it. QUENZIL_BENCH_QUICK=1 makes
# a short smoke run (fewer rounds, short hidden phase): its figures are rough.
set -u
cd "$(dirname "$0")/.."
source_root=$PWD

# Everything below needs a display: a private virtual one unless told otherwise.
if [ -z "${QUENZIL_BENCH_DISPLAY_READY:-}" ]; then
  export QUENZIL_BENCH_DISPLAY_READY=1
  exec scripts/with-display "$0" "$@"
fi

build=${1:-build/bench-win}
tracking_port=18761
maker_port=18762
if [ -n "${QUENZIL_BENCH_QUICK:-}" ]; then
  latency_rounds=5 wait_repeats=1 hidden_seconds=8 start_rounds=3 stalled_rounds=1 memory_queries=12
else
  latency_rounds=30 wait_repeats=3 hidden_seconds=60 start_rounds=10 stalled_rounds=2 memory_queries=100
fi
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

# ---- build ------------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  scripts/deps.sh || exit 2
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DQUENZIL_TRACKING_API_HOST=127.0.0.1:$tracking_port \
    -DQUENZIL_TRACKING_HOME_HOST=127.0.0.1:$tracking_port \
    -DQUENZIL_MAKER_HOST=127.0.0.1:$maker_port \
    -DQUENZIL_QUERY_STEP_TIMEOUT_MS=3000 -DQUENZIL_QUERY_TOTAL_TIMEOUT_MS=6000 \
    -DQUENZIL_BENCH_NAIVE=ON >/dev/null || exit 2
else
  cmake -S . -B "$build" -DQUENZIL_BENCH_NAIVE=ON >/dev/null || exit 2
fi
cmake --build "$build" -j"$jobs" --target \
  quenzil quenzil_naive bench_app bench_minimal_window bench_extraction bench_fetch_wait \
  >"$build/bench-build.log" 2>&1 || {
  tail -n 30 "$build/bench-build.log" >&2
  echo "bench: the build failed (a test build with the fake server's hosts is needed)" >&2
  exit 2
}
build=$(cd "$build" && pwd)
exe() { find "$build" -name "$1" -type f -not -path '*/CMakeFiles/*' | head -n 1; }
quenzil_exe=$(exe quenzil.exe)
naive_exe=$(exe quenzil_naive.exe)
app_exe=$(exe bench_app.exe)
minimal_exe=$(exe bench_minimal_window.exe)
extraction_exe=$(exe bench_extraction.exe)
wait_exe=$(exe bench_fetch_wait.exe)

# Wine sees the Linux root as drive Z:.
dos_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# ---- answers and the fake server --------------------------------------------
work=$build/bench-run
rm -rf "$work"
mkdir -p "$work/answers"
cp tests/e2e/answers/rows3 "$work/answers/rows3"
printf '1' >"$work/answers/gengxin.txt"
# A 1 MiB tracking answer: the page of rows3 with as many rows as fit.
big_rows=$(python3 - "$work/answers/big1m" <<'PY'
import sys
head = ("<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=utf-8\"><title>物流跟踪</title></head>\n<body>\n<table width=\"520\" border=\"0\" "
        "cellspacing=\"0\" cellpadding=\"0\" id=\"queryResult\">\n<tr><td style='width:140px;"
        "font-weight:bold;padding:3px 8px;'>时间</td><td style='font-weight:bold;'>地点和跟踪进度"
        "</td></tr>\n").encode()
tail = b"</table>\n</body></html>\n"
size = 1024 * 1024
body, rows = bytearray(head), 0
while True:
    row = ("<tr><td style='color:#333;padding:3px 5px;'>2013-01-%02d %02d:%02d 【上海市】 "
           "快件已到达 上海转运中心 第%d站</td></tr>\n" % (1 + rows // 1440 % 28, rows // 60 % 24,
                                                  rows % 60, rows)).encode()
    if len(body) + len(row) + len(tail) > size:
        break
    body += row
    rows += 1
body += tail
body += b" " * (size - len(body))
open(sys.argv[1], "wb").write(body)
print(rows)
PY
) || exit 2

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# The end-to-end tests use the same ports: wait for them, never forever.
for _ in $(seq 120); do
  port_busy $tracking_port || port_busy $maker_port || break
  sleep 1
done
if port_busy $tracking_port || port_busy $maker_port; then
  echo "bench: port $tracking_port or $maker_port stays busy" >&2
  exit 2
fi

export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
source scripts/wine-env.sh
server_pid=
stop_all() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  "$WINESERVER" -k >/dev/null 2>&1
}
trap stop_all EXIT
python3 tests/support/fake_server.py --port $tracking_port --port $maker_port \
  --answers "$work/answers" --log "$work/server.log" --ready-file "$work/server.ready" \
  </dev/null >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  [ -s "$work/server.ready" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/server.ready" ]; then
  echo "bench: the fake server did not start" >&2
  cat "$work/server.out" >&2
  exit 2
fi
scripts/wine-prefix || exit 2

export QUENZIL_BENCH_MINIMAL_EXE QUENZIL_BENCH_CLK_TCK
QUENZIL_BENCH_MINIMAL_EXE=$(dos_path "$minimal_exe")
QUENZIL_BENCH_CLK_TCK=$(getconf CLK_TCK)

# Runs one mode of bench_app against one program; its RESULT lines go to
# $work/NAME.out with the program's label in front. Output to files only:
# Wine's background processes must not hold anyone's pipe.
run_app() {
  local name=$1 label=$2 program=$3 limit=$4
  shift 4
  QUENZIL_E2E_EXE=$(dos_path "$program") \
    timeout -k 5 "$limit" "$WINE" "$app_exe" "$@" </dev/null >"$work/$name.raw" 2>"$work/$name.err"
  local status=$?
  sed -n "s/^RESULT /$label./p" "$work/$name.raw" | tr -d '\r' >"$work/$name.out"
  if [ $status -ne 0 ]; then
    echo "bench: $name failed ($status): $(tr -d '\r' <"$work/$name.err" | tail -n 3)" >&2
  fi
  return $status
}

started=$(date +%s)
echo "bench: query latency ($latency_rounds rounds)" >&2
run_app latency quenzil "$quenzil_exe" 180 latency "$latency_rounds"
echo "bench: CPU while a query waits ($wait_repeats x 2.8 s, each program)" >&2
run_app waitcpu quenzil "$quenzil_exe" 120 waitcpu "$wait_repeats"
run_app waitcpu-naive naive "$naive_exe" 120 waitcpu "$wait_repeats"
echo "bench: CPU while hidden (${hidden_seconds} s, both programs side by side)" >&2
run_app hidden quenzil "$quenzil_exe" $((hidden_seconds + 60)) hidden "$hidden_seconds" &
hidden_pid=$!
run_app hidden-naive naive "$naive_exe" $((hidden_seconds + 60)) hidden "$hidden_seconds"
wait $hidden_pid
echo "bench: start-up ($start_rounds rounds, $stalled_rounds with a stalled maker site)" >&2
run_app startup quenzil "$quenzil_exe" 300 startup "$start_rounds" "$stalled_rounds"
echo "bench: memory ($memory_queries queries of 1 MiB, $big_rows rows each)" >&2
run_app memory quenzil "$quenzil_exe" 400 memory "$memory_queries" "$big_rows"
echo "bench: extraction and fetch wait" >&2
timeout -k 5 300 "$WINE" "$extraction_exe" </dev/null >"$work/extraction.txt" 2>&1
tests/support/with-fake-server tests/integration/answers \
  timeout -k 5 120 "$WINE" "$wait_exe" 3000 </dev/null >"$work/fetch_wait.txt" 2>&1
finished=$(date +%s)

# ---- the table -----------------------------------------------------------------
cat "$work"/*.out >"$work/results.txt"
python3 - "$work/results.txt" "$((finished - started))" "${QUENZIL_BENCH_QUICK:-}" <<'PY'
import platform, subprocess, sys, time
values = {}
for line in open(sys.argv[1], encoding="utf-8"):
    parts = line.split()
    if len(parts) == 2:
        values[parts[0]] = float(parts[1])

def get(key):
    return values.get(key)

def fmt(value, unit="", digits=1):
    return "n/a" if value is None else f"{value:.{digits}f}{unit}"

def verdict(ok):
    return "n/a" if ok is None else ("met" if ok else "NOT met")

try:
    wine = subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True,
                          text=True, timeout=10).stdout.strip()
except Exception:
    wine = "wine ?"
cpu = "?"
try:
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
except OSError:
    pass
import os
print(f"Date {time.strftime('%Y-%m-%d')}; {os.cpu_count()} cores ({cpu}); {wine}; "
      f"Xvfb; {platform.system()} {platform.release()}; bench time {sys.argv[2]} s"
      + ("; QUICK run" if sys.argv[3] else ""))
print()
rows = []
def row(what, program, floor, ratio, goal, ok):
    rows.append((what, program, floor, ratio, goal, verdict(ok)))

p, f = get("quenzil.latency.program.median_ms"), get("quenzil.latency.floor.median_ms")
row(f"Query latency, click to rows, median of {fmt(get('quenzil.latency.count'), '', 0)} (p90)",
    f"{fmt(p, ' ms')} ({fmt(get('quenzil.latency.program.p90_ms'), ' ms')})",
    f"plain WinHTTP GET {fmt(f, ' ms')} ({fmt(get('quenzil.latency.floor.p90_ms'), ' ms')}); "
    f"without proxy lookup {fmt(get('quenzil.latency.floor_no_proxy.median_ms'), ' ms')}",
    fmt(p / f if p and f else None, "x", 2), "< 1.2x floor + 5 ms",
    None if p is None or f is None else p < 1.2 * f + 5)

w, wn = get("quenzil.waitcpu.share_pct"), get("naive.waitcpu.share_pct")
row(f"CPU while a query waits {fmt(get('quenzil.waitcpu.wall_s'), ' s')} (2.8 s slow answers)",
    f"{fmt(w, ' %', 2)} ({fmt(get('quenzil.waitcpu.cpu_s'), ' s', 2)})",
    f"naive spin: {fmt(wn, ' %', 1)} ({fmt(get('naive.waitcpu.cpu_s'), ' s', 2)})",
    fmt(wn / w if w and wn else None, "x less", 0) if w else "naive only", "< 1 %",
    None if w is None else w < 1)

h, hn = get("quenzil.hidden.share_pct"), get("naive.hidden.share_pct")
row(f"CPU hidden in the notification area, {fmt(get('quenzil.hidden.wall_s'), ' s', 0)}",
    f"{fmt(h, ' %', 3)} ({fmt(get('quenzil.hidden.cpu_s'), ' s', 2)})",
    f"naive 1 ms timer: {fmt(hn, ' %', 1)} ({fmt(get('naive.hidden.cpu_s'), ' s', 2)})",
    fmt(hn / h if h and hn else None, "x less", 0) if h else "program used < 1 tick",
    "< 0.1 %", None if h is None else h < 0.1)

s, sm = get("quenzil.startup.program.median_ms"), get("quenzil.startup.minimal.median_ms")
row(f"Start to visible window, median of {fmt(get('quenzil.startup.count'), '', 0)} (p90)",
    f"{fmt(s, ' ms', 0)} ({fmt(get('quenzil.startup.program.p90_ms'), ' ms', 0)})",
    f"minimal window {fmt(sm, ' ms', 0)} ({fmt(get('quenzil.startup.minimal.p90_ms'), ' ms', 0)})",
    fmt(s / sm if s and sm else None, "x", 2), "< 1.5x floor",
    None if s is None or sm is None else s < 1.5 * sm)
st = get("quenzil.startup.stalled.median_ms")
row(f"Start to visible window, maker site stalled (median of {fmt(get('quenzil.startup.stalled.count'), '', 0)})",
    fmt(st, " ms", 0), "", "", "bounded (update check limit)", None if st is None else st < 6000)

def mib(key):
    v = get(key)
    return None if v is None else v / 1024.0

count = int(get("quenzil.memory.count") or 100)
peaks = [(n, mib(f"quenzil.memory.q{n}.hwm_kib"), mib(f"quenzil.memory.q{n}.rss_kib"))
         for n in (0, 10, 50, count)]
mem_text = ", ".join(f"{n}: {fmt(hw, '', 1)}/{fmt(rs, '', 1)}" for n, hw, rs in peaks)
row(f"Memory, queries: VmHWM/VmRSS MiB ({fmt(get('quenzil.memory.rows'), '', 0)} rows per 1 MiB answer)",
    mem_text,
    f"minimal window {fmt(mib('quenzil.memory.minimal.hwm_kib'), '', 1)}/{fmt(mib('quenzil.memory.minimal.rss_kib'), '', 1)} MiB",
    "", "no growth after 10; < 20 MB", None)
p10, plast = peaks[1][1], peaks[3][1]
growth_ok = None if p10 is None or plast is None else plast - p10 < 0.5
size_ok = None if plast is None else plast * 1024 * 1024 < 20e6
rows[-1] = rows[-1][:5] + (f"growth {verdict(growth_ok)}; size {verdict(size_ok)}",)

header = ("measure", "quenzil.exe", "floor / naive (same run)", "ratio", "goal", "goal met")
print("| " + " | ".join(header) + " |")
print("|" + "---|" * len(header))
for r in rows:
    print("| " + " | ".join(r) + " |")
print()
print(f"Query median for a 1 MiB answer: {fmt(get('quenzil.memory.query.median_ms'), ' ms', 0)}; "
      "memory is of the whole Wine process (all its threads and Wine's own DLLs).")
PY
echo
echo "## bench_extraction"
tr -d '\r' <"$work/extraction.txt"
echo
echo "## bench_fetch_wait (this process's own UI thread; 3 s slow answer)"
tr -d '\r' <"$work/fetch_wait.txt"
echo
echo "bench: raw results in $work"
