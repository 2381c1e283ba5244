#!/usr/bin/env python3
"""Prints the benchmarks' table from their "key value" results:
    table.py RESULTS BENCH_SECONDS [QUICK]
Each row: measure, quenzil.exe's figure, the floor or anchor measured in the
same run, their ratio, the goal, and whether it is met."""

import os
import platform
import subprocess
import sys
import time

MIB = 1024.0
# Click to rows over the plain GET in the README's run of 2026-12-07.
README_LATENCY_RATIO = 2.66
before_commit = "f150f20"

values = {}
for line in open(sys.argv[1], encoding="utf-8"):
    parts = line.split()
    if len(parts) == 2:
        values[parts[0]] = float(parts[1])


def get(key):
    return values.get(key)


def fmt(value, unit="", digits=1):
    return "n/a" if value is None else f"{value:.{digits}f}{unit}"


def ms(key, digits=1):
    """'median ms (p90 ms)' of a spread."""
    return f"{fmt(get(key + '.median_ms'), ' ms', digits)} ({fmt(get(key + '.p90_ms'), ' ms', digits)})"


def ratio(a, b):
    return None if a is None or not b else a / b


def all_known(*xs):
    return all(x is not None for x in xs)


def machine():
    try:
        wine = subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True,
                              text=True, timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        wine = "wine ?"
    cpu = "?"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"Run of {time.strftime('%Y-%m-%d')} on {os.cpu_count()} cores ({cpu}), "
            f"{platform.system()} {platform.release()}, {wine}, Xvfb; bench time {sys.argv[2]} s"
            + ("; QUICK run, rough figures" if len(sys.argv) > 3 and sys.argv[3] else ""))


rows = []


def row(measure, program, anchor, ratio_text, goal, met):
    verdict = "n/a" if met is None else ("yes" if met else "NO")
    rows.append((measure, program, anchor, ratio_text, goal, verdict))


# 1. Before and after the redesign: click to rows over the plain GET.
after, before = get("latency.after.median_ms"), get("latency.before.median_ms")
floor = get("latency.floor.median_ms")
r_after, r_before = ratio(after, floor), ratio(before, floor)
count = fmt(get("latency.after.count"), "", 0)
floor_text = (f"plain WinHTTP GET {ms('latency.floor')}; without proxy lookup "
              f"{fmt(get('latency.floor_no_proxy.median_ms'), ' ms')}")
row(f"Click on 开始查询 to rows in List1, median of {count} (p90): this program",
    ms("latency.after"), floor_text, fmt(r_after, "×", 2),
    f"ratio not worse than today's {README_LATENCY_RATIO}× (README run of 2026-12-07)",
    None if r_after is None else r_after <= README_LATENCY_RATIO)
row(f"The same, previous release ({before_commit}), {fmt(get('latency.before.count'), '', 0)} rounds "
    f"interleaved with the above", ms("latency.before"), "the same plain GET", fmt(r_before, "×", 2),
    "(same-run reference)", None)

# 2. CPU while waiting and while hidden, against the naive anchor.
w, wn = get("waitcpu.after.share_pct"), get("waitcpu.naive.share_pct")
row(f"CPU while a query waits, {fmt(get('waitcpu.after.wall_s'), ' s')} (2.8 s slow answers)",
    f"{fmt(w, ' %', 2)} ({fmt(get('waitcpu.after.cpu_s'), ' s', 2)})",
    f"naive anchor (spinning wait) {fmt(wn, ' %', 1)} ({fmt(get('waitcpu.naive.cpu_s'), ' s', 2)})",
    fmt(ratio(wn, w), "× less", 0) if w else "< 1 tick", "< 1 %", None if w is None else w < 1)
h, hn = get("hidden.after.share_pct"), get("hidden.naive.share_pct")
row(f"CPU hidden in the notification area, {fmt(get('hidden.after.wall_s'), ' s', 0)}, nothing watched",
    f"{fmt(h, ' %', 3)} ({fmt(get('hidden.after.cpu_s'), ' s', 2)})",
    f"naive anchor (1 ms clock) {fmt(hn, ' %', 2)} ({fmt(get('hidden.naive.cpu_s'), ' s', 2)})",
    fmt(ratio(hn, h), "× less", 0) if h else "< 1 tick", "< 0.1 %", None if h is None else h < 0.1)

# 3. A query with a key, through each service.
for service, name, floor_kind in (("kuaidi100", "快递100's keyed API", "POST"), ("kdniao", "快递鸟", "POST"),
                                  ("appcode", "AppCode", "GET")):
    key = "keyed." + service
    k, kf = get(key + ".program.median_ms"), get(key + ".floor.median_ms")
    row(f"Click to rows through {name} alone (HTTPS), median of {fmt(get(key + '.program.count'), '', 0)} (p90)",
        ms(key + ".program"), f"plain WinHTTP HTTPS {floor_kind} of the same request {ms(key + '.floor')}",
        fmt(ratio(k, kf), "×", 2),
        f"≤ 1.2× {floor_kind} + 5 ms ({fmt(1.2 * kf + 5 if kf else None, ' ms')})",
        None if not all_known(k, kf) else k <= 1.2 * kf + 5)

# 4. The watch list.
hw = get("hidden.watched.share_pct")
row(f"CPU hidden, {fmt(get('hidden.watched.wall_s'), ' s', 0)}, 200 parcels watched",
    f"{fmt(hw, ' %', 3)} ({fmt(get('hidden.watched.cpu_s'), ' s', 2)})",
    f"nothing watched {fmt(h, ' %', 3)} ({fmt(get('hidden.after.cpu_s'), ' s', 2)})",
    "" if hw is None or h is None else f"{hw - h:+.3f} points", "< 0.1 %",
    None if hw is None else hw < 0.1)
cost = get("startup.watch_cost.median_ms")
row(f"Start to visible window, 200 watched, median of {fmt(get('startup.watched.count'), '', 0)} (p90), with a key",
    ms("startup.watched", 0), f"nothing watched, with a key {ms('startup.keyed', 0)}",
    "n/a" if cost is None else f"{cost:+.0f} ms per start (median of the rounds' differences)", "within 20 ms",
    None if cost is None else cost <= 20)
refreshes = int(get("watch.refreshes") or 0)
marks = [m for m in (0, 100, 500, refreshes) if get(f"watch.r{m}.rss_kib") is not None]
mem = ", ".join(f"{m}: {fmt(get(f'watch.r{m}.hwm_kib') / MIB)}/{fmt(get(f'watch.r{m}.rss_kib') / MIB)}"
                for m in marks)
r100, rlast = get("watch.r100.rss_kib"), get(f"watch.r{refreshes}.rss_kib")
growth = None if not all_known(r100, rlast) else (rlast - r100) / MIB
row(f"Watch list memory, refreshes of 200 parcels: VmHWM/VmRSS MiB after n (bench_watch)",
    mem, f"after loading {fmt((get('watch.r0.rss_kib') or 0) / MIB)} MiB RSS",
    "" if growth is None else f"{growth:+.2f} MiB from 100 to {refreshes}",
    f"no growth from 100 to {refreshes} (< 0.5 MiB)", None if growth is None else growth < 0.5)
rate = get("watch.per_second")
post_rate = 1000.0 / kf if kf else None
row(f"Watch refreshes per second ({refreshes}, keyed HTTPS, saved after each)",
    f"{fmt(rate, '/s')}", f"plain HTTPS POSTs back to back {fmt(post_rate, '/s')}",
    fmt(ratio(rate, post_rate), "×", 2), "(reference: the program does at most one every 9 s)", None)

# The 关注列表 window with 200 parcels.
lo, lb, lf = get("list.open.median_ms"), get("list.bare.median_ms"), get("list.filter.median_ms")
row(f"关注列表 with 200 parcels: 关注列表… to its rows shown, first open, median of {fmt(get('list.open.count'), '', 0)} (p90)",
    ms("list.open"), f"a bare report list of 200 rows made in one process {ms('list.bare')}",
    fmt(ratio(lo, lb), "×", 2), "< 100 ms", None if lo is None else lo < 100)
ls = get("list.filter_same.median_ms")
row(f"关注列表: a filter's click to its rows (BM_CLICK sent from another process), median of {fmt(get('list.filter.count'), '', 0)} (p90)",
    ms("list.filter"), f"the same click on the filter already shown {ms('list.filter_same')}; "
                       f"a bare report list's rows gone and back {ms('list.bare_filter')}",
    "" if not all_known(lf, ls) else f"+{lf - ls:.1f} ms", "< 16 ms more than the click itself",
    None if not all_known(lf, ls) else lf - ls < 16)

# 5. Start-up and memory, as before.
s, sm = get("startup.program.median_ms"), get("startup.minimal.median_ms")
row(f"Start to visible window, immediate update answer, median of {fmt(get('startup.program.count'), '', 0)} (p90)",
    ms("startup.program", 0), f"minimal Win32 window {ms('startup.minimal', 0)}",
    fmt(ratio(s, sm), "×", 2), "< 1.5× minimal window", None if not all_known(s, sm) else s < 1.5 * sm)
st = get("startup.stalled.median_ms")
row(f"Start to visible window, maker site stalled, median of {fmt(get('startup.stalled.count'), '', 0)}",
    fmt(st, " ms", 0), "", "", "bounded by the update check's 4 s limit",
    None if st is None else st < 4000 + 1000)
count = int(get("memory.count") or 0)
marks = [m for m in (0, 10, 50, count) if get(f"memory.q{m}.rss_kib") is not None]
mem = ", ".join(f"{m}: {fmt(get(f'memory.q{m}.hwm_kib') / MIB)}/{fmt(get(f'memory.q{m}.rss_kib') / MIB)}"
                for m in marks)
q10, qlast = get("memory.q10.hwm_kib"), get(f"memory.q{count}.hwm_kib")
grows = None if not all_known(q10, qlast) else (qlast - q10) / MIB >= 0.5
small = None if qlast is None else qlast * 1024 < 20e6
row(f"Memory after n queries of a 1 MiB answer ({fmt(get('memory.rows'), '', 0)} rows), VmHWM/VmRSS MiB",
    mem, f"minimal Win32 window {fmt((get('memory.minimal.hwm_kib') or 0) / MIB)}/"
         f"{fmt((get('memory.minimal.rss_kib') or 0) / MIB)} MiB",
    "", "no growth after 10; < 20 MB", None if grows is None or small is None else (not grows and small))
if grows is not None and small is not None:
    rows[-1] = rows[-1][:5] + (f"no growth: {'NO' if grows else 'yes'}; < 20 MB: {'yes' if small else 'NO'}",)

print(machine())
print()
header = ("measure", "quenzil.exe", "floor / anchor (same run)", "ratio", "goal", "met")
print("| " + " | ".join(header) + " |")
print("|" + "---|" * len(header))
for r in rows:
    print("| " + " | ".join(r) + " |")
print()
print(f"Times are medians (p90 in brackets) on a shared machine. A 1 MiB query takes "
      f"{fmt(get('memory.query.median_ms'), ' ms', 0)} (median). CPU and memory are the whole Wine "
      f"process's (all threads, Wine's own DLLs), read from /proc. bench_watch: "
      f"{fmt(get('watch.saves'), '', 0)} saves, {fmt(get('watch.notices'), '', 0)} notifications, "
      f"{fmt(get('watch.failed'), '', 0)} failed refreshes, watch.json {fmt(get('watch.file_kib'))} KiB, "
      f"{fmt(get('watch.simulated_hours'))} simulated hours.")
