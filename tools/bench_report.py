#!/usr/bin/env python3
"""The benchmark report: one markdown table, printed and written to
build/bench-report.md. Run by tools/bench.sh after it has built both presets.

usage: bench_report.py [--no-wine]

Every export is timed beside an empty function of the same signature and the
obvious way of doing the same work, all in one run of its benchmark program
(medians of interleaved repetitions, CPU time), then counted in instructions
by callgrind, and set against its goal. The DLL's size, imports and exports
come from objdump; a last line times trade_time in the DLL under Wine.
"""
import datetime
import json
import os
import platform
import re
import subprocess
import sys

from dll_tables import read_tables

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE = os.path.join(ROOT, "build", "native")
WIN32 = os.path.join(ROOT, "build", "win32")
DLL = os.path.join(WIN32, "Kestrune.dll")
REPORT = os.path.join(ROOT, "build", "bench-report.md")

# Repetitions are interleaved in random order, so that a burst of load from
# elsewhere on the machine spreads over every benchmark instead of one.
REPETITIONS = 9
MIN_TIME = 0.1  # seconds per repetition
CALLGRIND_MIN_TIME = 0.02
# The cache-hit count includes the one miss that fills the cache; enough hits
# make it vanish below the printed precision.
CALLGRIND_HIT_MIN_TIME = 0.5
WINE_TIMEOUT = 300  # seconds; a fresh Wine prefix alone takes about 20

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "winhttp.dll", "ntdll.dll",
               "user32.dll", "advapi32.dll", "ws2_32.dll"}
EXPORTS = {"open_buy", "open_sell", "trade_time", "GetGmtOffset"}


def log(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


def medians(program):
    """{benchmark name: median CPU ns per call} from one run of program."""
    log(f"timing {program}")
    out = subprocess.run(
        [os.path.join(NATIVE, program), "--benchmark_format=json",
         f"--benchmark_repetitions={REPETITIONS}", f"--benchmark_min_time={MIN_TIME}",
         "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
            result[b["run_name"]] = b["cpu_time"] * scale[b["time_unit"]]
    return result


def instructions(functions, program, *args):
    """{function: instructions per call} through tools/callgrind_per_call.py."""
    log(f"counting {', '.join(functions)} in {program} {' '.join(args)}")
    out = subprocess.run(
        [sys.executable, os.path.join(ROOT, "tools", "callgrind_per_call.py"),
         ",".join(functions), "--", os.path.join(NATIVE, program), *args],
        check=True, capture_output=True, text=True).stdout
    result = {}
    for line in out.splitlines():
        m = re.match(r"(\S+): \d+ calls, ([\d.]+) instructions per call", line)
        if m:
            result[m.group(1)] = float(m.group(2))
    return result


def dll_tables():
    """(size in bytes, {imported DLL: [functions]}, [exported names])."""
    tables = read_tables(DLL)
    return os.path.getsize(DLL), tables.imports, tables.exports


def wine_window_bench():
    """({input set: (empty ns, trade_time ns, gmtime ns)}, {input set: how
    many answers differ from gmtime's}) from window-bench.exe under Wine;
    ({}, {}) when it could not run."""
    log("timing window-bench.exe under Wine (the first start of a prefix is slow)")
    session = os.path.join(ROOT, "cmake", "wine-session.sh")
    output = os.path.join(WIN32, "window-bench.out")
    # Output goes to a file, never a pipe: Wine's background services inherit
    # the descriptors and would hold a pipe open after the program ends.
    try:
        subprocess.run(["bash", session, "start"], stdin=subprocess.DEVNULL,
                       timeout=WINE_TIMEOUT, check=True)
        with open(output, "w") as out:
            # Exit status 1 means answers differ; the output says which.
            subprocess.run(["bash", os.path.join(ROOT, "cmake", "wine-run.sh"),
                            "window-bench.exe"], cwd=WIN32, stdin=subprocess.DEVNULL,
                           stdout=out, stderr=subprocess.STDOUT, timeout=WINE_TIMEOUT)
    except (subprocess.SubprocessError, OSError) as e:
        log(f"window-bench.exe did not run: {e}")
        return {}, {}
    finally:
        subprocess.run(["bash", session, "stop"], stdin=subprocess.DEVNULL,
                       timeout=60, check=False)
    figures, differ = {}, {}
    for line in open(output, encoding="utf-8", errors="replace"):
        m = re.match(r"(\w+)\s+empty\s+([\d.]+) ns\s+trade_time\s+([\d.]+) ns"
                     r"\s+gmtime\s+([\d.]+) ns", line)
        if m:
            figures[m.group(1)] = tuple(float(g) for g in m.groups()[1:])
        m = re.match(r"(\w+): (\d+) of \d+ answers differ", line)
        if m:
            differ[m.group(1)] = int(m.group(2))
    return figures, differ


def wine_label():
    """How Wine runs here: on qemu's user-mode emulator when setup had to
    register it for 32-bit programs."""
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            if f.readline().strip() == "enabled":
                return "under Wine, itself on qemu user-mode emulation"
    except OSError:
        pass
    return "under Wine"


def fmt_ns(value):
    """Three significant figures."""
    if value is None:
        return "n/a"
    return f"{value:,.0f}" if value >= 100 else f"{value:.3g}"


def fmt_ir(value):
    return "n/a" if value is None else f"{value:,.1f}"


def fmt_ratio(value):
    if value is None:
        return "n/a"
    return f"{value:,.0f}×" if value >= 100 else f"{value:.3g}×"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def mark(ok):
    return "n/a" if ok is None else ("met" if ok else "**not met**")


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main():
    wine = "--no-wine" not in sys.argv[1:]

    entry = medians("entry_rules_bench")
    window = medians("trading_window_bench")
    gmt = medians("gmt_offset_bench")

    entry_ir = instructions(["open_buy", "open_sell", "empty_rule",
                             "short_circuit_buy", "short_circuit_sell"],
                            "entry_rules_bench", f"--benchmark_min_time={CALLGRIND_MIN_TIME}")
    window_ir = {
        inputs: instructions(["trade_time", "gmtime_trade_time", "empty_predicate"],
                             "trading_window_bench", f"--benchmark_filter=/{inputs}$",
                             f"--benchmark_min_time={CALLGRIND_MIN_TIME}")
        for inputs in ("random", "in_window")}
    hit_ir = instructions(["GetGmtOffset"], "gmt_offset_bench",
                          "--benchmark_filter=^BM_cache_hit$",
                          f"--benchmark_min_time={CALLGRIND_HIT_MIN_TIME}")
    clock_only_ir = instructions(["GetGmtOffset"], "gmt_offset_bench",
                                 "--benchmark_filter=^BM_clock_only$",
                                 f"--benchmark_min_time={CALLGRIND_MIN_TIME}")
    gmt_base_ir = instructions(["empty_get_gmt_offset", "utc_seconds"], "gmt_offset_bench",
                               "--benchmark_filter=^BM_(empty|clock_reading)$",
                               f"--benchmark_min_time={CALLGRIND_MIN_TIME}")

    size, imports, exports = dll_tables()
    wine_figures, wine_differ = wine_window_bench() if wine else ({}, {})

    # (call, obvious implementation, ns, empty ns, obvious ns, Ir, empty Ir,
    #  obvious Ir, ns goal as (text, test), Ir goal as (text, test))
    def within(limit):
        return lambda r: None if r is None else r <= limit

    calls = []
    for side in ("buy", "sell"):
        calls.append((
            f"`open_{side}`", "short-circuit if-chain",
            entry.get(f"BM_open_{side}"), entry.get("BM_empty"),
            entry.get(f"BM_short_circuit_{side}"),
            entry_ir.get(f"open_{side}"), entry_ir.get("empty_rule"),
            entry_ir.get(f"short_circuit_{side}"),
            ("≤ 2× empty call", lambda ns, empty, obvious: within(2.0)(ratio(ns, empty))),
            ("≤ 25", lambda ir: within(25)(ir))))
    for inputs, label in (("random", "random times"), ("in_window", "in-window times")):
        ir = window_ir[inputs]
        calls.append((
            f"`trade_time`, {label}", "`gmtime_r` and the same tests",
            window.get(f"BM_trade_time/{inputs}"), window.get(f"BM_empty/{inputs}"),
            window.get(f"BM_gmtime_r/{inputs}"),
            ir.get("trade_time"), ir.get("empty_predicate"), ir.get("gmtime_trade_time"),
            ("≤ 0.10× `gmtime_r`", lambda ns, empty, obvious: within(0.10)(ratio(ns, obvious))),
            ("≤ 40", lambda ir: within(40)(ir))))
    calls.append((
        "`GetGmtOffset`, cache hit", "bare clock reading",
        gmt.get("BM_cache_hit"), gmt.get("BM_empty"), gmt.get("BM_clock_reading"),
        hit_ir.get("GetGmtOffset"), gmt_base_ir.get("empty_get_gmt_offset"),
        gmt_base_ir.get("utc_seconds"),
        ("≤ 3 clock readings", lambda ns, empty, obvious: within(3.0)(ratio(ns, obvious))),
        None))
    calls.append((
        "`GetGmtOffset`, `use_server` 0", "bare clock reading",
        gmt.get("BM_clock_only"), gmt.get("BM_empty"), gmt.get("BM_clock_reading"),
        clock_only_ir.get("GetGmtOffset"), gmt_base_ir.get("empty_get_gmt_offset"),
        gmt_base_ir.get("utc_seconds"), None, None))

    rows = []
    for (call, obvious_name, ns, empty_ns, obvious_ns, ir, empty_ir, obvious_ir,
         ns_goal, ir_goal) in calls:
        rows.append([call, "ns per call", fmt_ns(ns), fmt_ns(empty_ns),
                     f"{obvious_name}: {fmt_ns(obvious_ns)}",
                     fmt_ratio(ratio(ns, empty_ns)), fmt_ratio(ratio(ns, obvious_ns)),
                     ns_goal[0] if ns_goal else "—",
                     mark(ns_goal[1](ns, empty_ns, obvious_ns)) if ns_goal else "—"])
        rows.append([call, "instructions per call", fmt_ir(ir), fmt_ir(empty_ir),
                     f"{obvious_name}: {fmt_ir(obvious_ir)}",
                     fmt_ratio(ratio(ir, empty_ir)), fmt_ratio(ratio(ir, obvious_ir)),
                     ir_goal[0] if ir_goal else "—",
                     mark(ir_goal[1](ir)) if ir_goal else "—"])

    rows.append(["`Kestrune.dll`", "size", f"{size:,} bytes", "", "", "", "", "—", "—"])
    for name, functions in imports.items():
        system = name.lower() in SYSTEM_DLLS
        rows.append(["`Kestrune.dll`", f"imports `{name}`",
                     f"{len(functions)}: {', '.join(functions)}", "", "", "", "",
                     "a system DLL", mark(system)])
    rows.append(["`Kestrune.dll`", "exports", ", ".join(f"`{e}`" for e in exports),
                 "", "", "", "", "the four plain names", mark(set(exports) == EXPORTS)])

    if wine:
        for inputs, label in (("random", "random times"), ("in_window", "in-window times")):
            figures = wine_figures.get(inputs)
            empty_ns, ns, crt_ns = figures if figures else (None, None, None)
            differ = wine_differ.get(inputs)
            rows.append([f"`trade_time` in the DLL, {label}, **{wine_label()}**",
                         "ns per call (fastest of 5)", fmt_ns(ns),
                         fmt_ns(empty_ns),
                         f"msvcrt `_gmtime64` and the same tests: {fmt_ns(crt_ns)}",
                         fmt_ratio(ratio(ns, empty_ns)), fmt_ratio(ratio(ns, crt_ns)),
                         "the same answers as gmtime; the times for information",
                         f"**not met: {differ} answers differ**" if differ
                         else mark(None if figures is None else True)])

    header = ["Call", "Measure", "Kestrune", "Empty call", "Obvious implementation",
              "÷ empty", "÷ obvious", "Goal", "Met"]
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    lines = [
        f"## Kestrune benchmark report, {when}",
        "",
        f"{cpu_model()}, {os.cpu_count()} cores. Native figures are the x86-64 build "
        f"of the same core: ns per call is the median CPU time of {REPETITIONS} "
        "interleaved repetitions, every function called out of line through a "
        "pointer over the same inputs, all of a row's functions in one run of one "
        "program; instructions per call are callgrind's exact counts of the "
        "function itself (its return included), divided by its calls. The "
        "cache-hit goal is one of time: a clock reading costs far more time than "
        "its instruction count shows. The Wine lines time the 32-bit DLL itself, "
        "but where the kernel runs no 32-bit programs Wine itself runs under "
        "qemu's user-mode emulator: their figures say little about real "
        "hardware, and even their ratios are only indicative.",
        "",
        "| " + " | ".join(header) + " |",
        "|" + "|".join("---" for _ in header) + "|",
    ]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    report = "\n".join(lines) + "\n"
    os.makedirs(os.path.dirname(REPORT), exist_ok=True)
    with open(REPORT, "w", encoding="utf-8") as f:
        f.write(report)
    print(report, end="")
    log(f"written to {os.path.relpath(REPORT, ROOT)}")


if __name__ == "__main__":
    main()
