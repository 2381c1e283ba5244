#!/bin/bash
# Whole-program benchmarks: builds what they need (this tree, and the
# previous release from commit f150f20 with its naive anchor), starts the
# fake servers, runs everything under Wine on a virtual display and prints
# one table, then the extraction, JSON, refresh cadence, courier guess and
# watch table benchmarks.
#   scripts/bench.sh [BUILD_DIR]      default build/bench-win
# The previous release is built in build/bench-before. Every build points
# its hosts at the fake servers on 127.0.0.1:18781 (tracking service),
# 18782 (maker site) and 18783 (keyed API and detection, HTTPS with a
# throwaway CA trusted in the bench's own Wine prefix only).
# QUENZIL_BENCH_QUICK=1 makes a short smoke run: its figures are rough.
# QUENZIL_BENCH_ONLY="latency keyed" runs only those parts (latency keyed
# waitcpu hidden startup memory watch extraction cadence guess services table).
set -u
cd "$(dirname "$0")/.."
source_root=$PWD

# Everything below needs a display: a private virtual one unless told otherwise.
if [ -z "${QUENZIL_BENCH_DISPLAY_READY:-}" ]; then
  export QUENZIL_BENCH_DISPLAY_READY=1
  exec scripts/with-display "$0" "$@"
fi

build=${1:-build/bench-win}
before=build/bench-before
before_commit=f150f20
tracking_port=18781 maker_port=18782 tls_port=18783
if [ -n "${QUENZIL_BENCH_QUICK:-}" ]; then
  latency_rounds=6 keyed_rounds=6 wait_repeats=1 hidden_seconds=8 start_rounds=3 stalled_rounds=1
  memory_queries=12 watch_refreshes=200
else
  latency_rounds=30 keyed_rounds=30 wait_repeats=3 hidden_seconds=60 start_rounds=10 stalled_rounds=2
  memory_queries=100 watch_refreshes=1000
fi
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))

# ---- builds -------------------------------------------------------------------
# configure SOURCE BUILD [OPTION...]: a Windows build whose hosts are the fake servers'.
configure() {
  local source=$1 dir=$2
  shift 2
  mkdir -p "$dir"
  cmake -S "$source" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$(realpath "$source")/cmake/mingw-w64-x86_64.cmake" \
    -DQUENZIL_TRACKING_API_HOST=127.0.0.1:$tracking_port \
    -DQUENZIL_TRACKING_HOME_HOST=127.0.0.1:$tracking_port \
    -DQUENZIL_MAKER_HOST=127.0.0.1:$maker_port \
    -DQUENZIL_TEST_PORT=$tracking_port -DQUENZIL_TEST_MAKER_PORT=$maker_port \
    -DQUENZIL_QUERY_STEP_TIMEOUT_MS=3000 -DQUENZIL_QUERY_TOTAL_TIMEOUT_MS=6000 "$@" \
    >"$dir/bench-configure.log" 2>&1 || { tail -n 20 "$dir/bench-configure.log" >&2; return 1; }
}
# compile BUILD TARGET...
compile() {
  local dir=$1
  shift
  cmake --build "$dir" -j"$jobs" --target "$@" >"$dir/bench-build.log" 2>&1 ||
    { tail -n 30 "$dir/bench-build.log" >&2; return 1; }
}
fail() { echo "bench: $*" >&2; exit 2; }

scripts/deps.sh >/dev/null || fail "cannot install what the build needs"
mkdir -p "$(dirname "$build")" "$before"
echo "bench: building this tree in $build" >&2
# No requery guard: the keyed latency asks for the same number again and
# again, and must time the query, not the kept rows.
configure . "$build" -DQUENZIL_TRACKING_POLL_HOST=127.0.0.1:$tls_port \
  -DQUENZIL_TRACKING_DETECT_HOST=127.0.0.1:$tls_port -DQUENZIL_TEST_TLS_PORT=$tls_port \
  -DQUENZIL_KDNIAO_HOST=127.0.0.1:$tls_port -DQUENZIL_APPCODE_HOST=127.0.0.1:$tls_port \
  -DQUENZIL_WATCH_INTERVAL_SECONDS=3600 -DQUENZIL_KEYED_REQUERY_SECONDS=0 || fail "cannot configure $build"
compile "$build" quenzil bench_app bench_minimal_window bench_watch bench_extraction bench_json bench_cadence bench_guess \
  bench_services bench_table ||
  fail "the build of this tree failed"
# The previous release, from its own sources: QUENZIL_BENCH_NAIVE adds the naive anchor.
echo "bench: building the previous release ($before_commit) in $before" >&2
if [ ! -f "$before/src/CMakeLists.txt" ]; then
  rm -rf "$before/src" && mkdir -p "$before/src" &&
    git -C "$source_root" archive "$before_commit" | tar -x -C "$before/src" ||
    fail "cannot unpack $before_commit"
fi
configure "$before/src" "$before/build" -DQUENZIL_BENCH_NAIVE=ON || fail "cannot configure $before/build"
compile "$before/build" quenzil quenzil_naive || fail "the build of $before_commit failed"

build=$(cd "$build" && pwd)
before=$(cd "$before" && pwd)
exe() { find "$1" -name "$2" -type f -not -path '*/CMakeFiles/*' | head -n 1; }
# Wine sees the Linux root as drive Z:.
dos_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
export QUENZIL_BENCH_EXE QUENZIL_BENCH_BEFORE_EXE QUENZIL_BENCH_NAIVE_EXE QUENZIL_BENCH_MINIMAL_EXE \
  QUENZIL_BENCH_CLK_TCK
QUENZIL_BENCH_EXE=$(dos_path "$(exe "$build" quenzil.exe)")
QUENZIL_BENCH_BEFORE_EXE=$(dos_path "$(exe "$before/build" quenzil.exe)")
QUENZIL_BENCH_NAIVE_EXE=$(dos_path "$(exe "$before/build" quenzil_naive.exe)")
QUENZIL_BENCH_MINIMAL_EXE=$(dos_path "$(exe "$build" bench_minimal_window.exe)")
QUENZIL_BENCH_CLK_TCK=$(getconf CLK_TCK)
app_exe=$(exe "$build" bench_app.exe)
watch_exe=$(exe "$build" bench_watch.exe)

# ---- answers, certificates, the Wine prefix and the fake servers ------------------
work=$build/bench-run
rm -rf "$work"
mkdir -p "$work/watch"
big_rows=$(python3 bench/make_answers.py "$work/answers") || fail "cannot write the answers"
pki=$build/bench-pki
tests/support/make-test-pki "$pki" || fail "cannot make the test certificates"

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 60); do
  port_busy $tracking_port || port_busy $maker_port || port_busy $tls_port || break
  sleep 1
done
port_busy $tracking_port || port_busy $maker_port || port_busy $tls_port &&
  fail "port $tracking_port, $maker_port or $tls_port stays busy"

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
# Readies the prefix too.
tests/support/trust-test-ca "$WINEPREFIX" "$pki/ca.pem" || fail "cannot trust the test CA in $WINEPREFIX"
python3 tests/support/fake_server.py --port $tracking_port --port $maker_port \
  --tls-port "$tls_port:$pki/server.pem:$pki/server.key" \
  --answers "$work/answers" --log "$work/server.log" --ready-file "$work/server.ready" \
  </dev/null >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  [ -s "$work/server.ready" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/server.ready" ] || { cat "$work/server.out" >&2; fail "the fake server did not start"; }

# ---- runs ---------------------------------------------------------------------------
# run NAME LIMIT EXE ARGS...: RESULT lines go to $work/NAME.out. Output to
# files only: Wine's background processes must not hold anyone's pipe.
run() {
  local name=$1 limit=$2 program=$3
  shift 3
  timeout -k 5 "$limit" "$WINE" "$program" "$@" </dev/null >"$work/$name.raw" 2>"$work/$name.err"
  local status=$?
  sed -n 's/^RESULT //p' "$work/$name.raw" | tr -d '\r' >"$work/$name.out"
  [ $status -eq 0 ] || echo "bench: $name failed ($status): $(tr -d '\r' <"$work/$name.err" | tail -n 3)" >&2
}

# want NAME: the part is to run.
want() { [ -z "${QUENZIL_BENCH_ONLY:-}" ] || [[ " $QUENZIL_BENCH_ONLY " == *" $1 "* ]]; }

started=$(date +%s)
echo "bench: click to rows, this program and the previous release ($latency_rounds rounds each)" >&2
want latency && run latency 600 "$app_exe" latency $latency_rounds
echo "bench: click to rows through each service ($keyed_rounds rounds each)" >&2
want keyed && run keyed 300 "$app_exe" keyed $keyed_rounds
echo "bench: CPU while a query waits ($wait_repeats x 2.8 s, each program)" >&2
want waitcpu && run waitcpu 300 "$app_exe" waitcpu $wait_repeats
echo "bench: CPU while hidden ($hidden_seconds s each: none watched, 200 watched, naive)" >&2
want hidden && run hidden $((hidden_seconds * 3 + 180)) "$app_exe" hidden $hidden_seconds
echo "bench: start-up ($start_rounds rounds of four, $stalled_rounds with a stalled maker site)" >&2
want startup && run startup 600 "$app_exe" startup $start_rounds $stalled_rounds
echo "bench: memory ($memory_queries queries of 1 MiB, $big_rows rows each)" >&2
want memory && run memory 900 "$app_exe" memory $memory_queries "$big_rows"
echo "bench: the 关注列表 window with 200 parcels ($start_rounds rounds)" >&2
want list && run list 300 "$app_exe" list $start_rounds
echo "bench: watch list ($watch_refreshes refreshes of 200 parcels)" >&2
want watch && run watch 600 "$watch_exe" "$(dos_path "$work/watch/watch.json")" $watch_refreshes 200
if want extraction; then
  echo "bench: extraction and JSON" >&2
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_extraction.exe)" </dev/null >"$work/extraction.txt" 2>&1
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_json.exe)" </dev/null >"$work/json.txt" 2>&1
fi
if want cadence; then
  echo "bench: refresh cadence over generated parcels" >&2
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_cadence.exe)" </dev/null >"$work/cadence.txt" 2>&1
fi
if want guess; then
  echo "bench: courier guess over bench/guess/numbers.tsv" >&2
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_guess.exe)" "$(dos_path "$source_root/bench/guess/numbers.tsv")" \
    </dev/null >"$work/guess.txt" 2>&1
fi
if want services; then
  echo "bench: requests per press for a few mixes of service accounts" >&2
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_services.exe)" "$(dos_path "$source_root/bench/guess/numbers.tsv")" \
    </dev/null >"$work/services.txt" 2>&1
fi
if want table; then
  echo "bench: the watch table over 200 parcels" >&2
  timeout -k 5 300 "$WINE" "$(exe "$build" bench_table.exe)" </dev/null >"$work/table.txt" 2>&1
fi
finished=$(date +%s)

# ---- the table ------------------------------------------------------------------------
cat "$work"/*.out >"$work/results.txt"
python3 bench/table.py "$work/results.txt" "$((finished - started))" "${QUENZIL_BENCH_QUICK:-}"
for part in extraction json cadence guess services table; do
  [ -f "$work/$part.txt" ] || continue
  echo
  echo "## bench_$part"
  tr -d '\r' <"$work/$part.txt"
done
echo
echo "bench: raw results in $work"
