"""Runs the benchmark suite and prints the side-by-side table with ratios and targets.

    python benchmarks/run.py [--out DIR] [--only REGEX] [--table-only] [-- PYPERF OPTIONS]

Times come from bench_zezuvo.py (pyperf: several worker processes per benchmark, the least of their
values); memory per stored event from memory.py, each measurement in a fresh process.  The table is
also written to DIR/table.txt.  Nothing here fails on a missed target: benchmarks are not tests.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys

import pyperf

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PYPERF = ["--processes", "16", "--values", "3", "--warmups", "1"]

# operation (or its prefix), size (None: every size) -> (ratio limit: module time / baseline time, text)
TARGETS = [
    ("state_update", None, 0.5, "<= 0.5"),
    ("score_summary", "1e5 in order", 1 / 30, ">= 30x faster"),
    ("get_system_health_report", "1000 x 100", 0.1, ">= 10x faster"),
    ("get_performance_analytics", "1000 x 100", 0.1, ">= 10x faster"),
    ("populate_template", None, 1.10, "<= 1.10 x floor"),
    ("executor from_builtin", None, 1.2, "<= 1.2 x floor"),
    ("import", None, 1.3, "<= 1.3"),
    ("memory per stored event", None, 1.0, "<= baseline"),
]
# Rows whose cost at ten times the size must be about ten times the cost: (operation, smaller, larger).
GROWTH = [
    ("score_summary", "1e5 in order", "1e6 in order"),
    ("get_system_health_report", "100 x 100", "1000 x 100"),
    ("get_performance_analytics", "100 x 100", "1000 x 100"),
]
MEMORY_VARIANTS = ("now", "ts", "ts+metadata")


def target_of(operation, size):
    for prefix, target_size, limit, text in TARGETS:
        if operation.startswith(prefix) and (target_size is None or target_size == size):
            return limit, text
    return None, ""


def run_benchmarks(path, only, pyperf_args):
    if os.path.exists(path):
        os.remove(path)
    command = [sys.executable, os.path.join(HERE, "bench_zezuvo.py"), "--quiet", "-o", path, *pyperf_args]
    if only:
        command += ["--only", only]
    subprocess.run(command, check=True)


def timing_rows(path):
    """{(operation, size): {side: seconds}} in the suite's order: the least of the workers' values, as
    background load on a shared machine only ever adds time."""
    rows: dict = {}
    for bench in pyperf.BenchmarkSuite.load(path).get_benchmarks():
        operation, size, side = bench.get_name().split("|")
        rows.setdefault((operation, size), {})[side] = min(bench.get_values())
    return rows


def memory_rows():
    rows = {}
    for variant in MEMORY_VARIANTS:
        sides = {}
        for side in ("module", "python"):
            out = subprocess.run([sys.executable, os.path.join(HERE, "memory.py"), side, variant],
                                 check=True, capture_output=True, text=True).stdout
            sides[side] = float(out)
        rows[(f"memory per stored event ({variant})", "bytes")] = sides
    return rows


def time_text(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def table(rows, memory):
    headers = ("operation", "size", "module", "baseline", "ratio", "speed-up", "target", "met")
    lines = []
    for (operation, size), sides in list(rows.items()) + list(memory.items()):
        if "module" not in sides or "python" not in sides:
            continue
        module, python = sides["module"], sides["python"]
        ratio = module / python
        limit, text = target_of(operation, size)
        shown = (f"{module:.0f} B", f"{python:.0f} B") if size == "bytes" else (time_text(module), time_text(python))
        met = "" if limit is None else ("yes" if ratio <= limit else "NO")
        lines.append((operation, size, *shown, f"{ratio:.3f}", f"{python / module:.1f}x", text, met))
    widths = [max(len(str(c)) for c in column) for column in zip(headers, *lines)]
    out = ["  ".join(str(c).ljust(w) for c, w in zip(headers, widths)).rstrip(),
           "  ".join("-" * w for w in widths)]
    out += ["  ".join(str(c).ljust(w) for c, w in zip(line, widths)).rstrip() for line in lines]

    growth = []
    for operation, small, large in GROWTH:
        a, b = rows.get((operation, small)), rows.get((operation, large))
        if a and b and "module" in a and "module" in b:
            growth.append(f"  {operation}: {small} -> {large}: module x{b['module'] / a['module']:.1f}, "
                          f"baseline x{b['python'] / a['python']:.1f}")
    if growth:
        out += ["", "Growth at ten times the size (linear: about x10):", *growth]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join("build", "bench"), help="directory for the results")
    parser.add_argument("--only", help="run only the benchmarks whose name matches this regex")
    parser.add_argument("--table-only", action="store_true", help="print the table of the last run")
    parser.add_argument("pyperf_args", nargs="*", help="options for pyperf (after --)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    results = os.path.join(args.out, "results.json")
    if not args.table_only:
        run_benchmarks(results, args.only, args.pyperf_args or DEFAULT_PYPERF)
    text = table(timing_rows(results), {} if args.only else memory_rows())
    with open(os.path.join(args.out, "table.txt"), "w") as f:
        f.write(text + "\n")
    print()
    print(text)


if __name__ == "__main__":
    main()
