"""The benchmark suite: every operation timed side by side with its plain-Python baseline (or floor).

A pyperf script: `python benchmarks/bench_zezuvo.py -o results.json` (pyperf options apply; `--only REGEX`
selects benchmarks by name).  Each benchmark is named "operation|size|side", side being "module" or "python"
(the baseline); benchmarks/run.py prints the table from the results.  Inputs are built once per worker
process, outside the timed region.
"""

from __future__ import annotations

import functools
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyperf  # noqa: E402

import baselines  # noqa: E402
import workloads  # noqa: E402

import brevant.zezuvo_templates as zt  # noqa: E402
from brevant.zezuvo import ZeZuvoRuntime  # noqa: E402

SUMMARY_SIZES = [(1_000, False), (100_000, False), (1_000_000, False), (100_000, True)]
REPORT_INSTANCES = (100, 1_000)
EVENTS_PER_INSTANCE = 100
STORE_EVENTS = 10_000  # events recorded into one store by the state_update rows


def loop(call):
    """A pyperf time function running call() `loops` times."""

    def timed(loops):
        start = time.perf_counter()
        for _ in range(loops):
            call()
        return time.perf_counter() - start

    return timed


# ---- state_update ------------------------------------------------------------


def state_update(side, variant):
    """Records STORE_EVENTS events into a new store per loop (made outside the timed region), so that both
    sides append to lists of the same lengths, whatever loop count pyperf calibrates."""
    data = workloads.EVENT_MAPS[variant]

    def timed(loops):
        elapsed = 0.0
        for _ in range(loops):
            if side == "module":
                record = workloads.Executor.from_string(ZeZuvoRuntime(), workloads.ENTRY).state_update
                start = time.perf_counter()
                for _ in range(STORE_EVENTS):
                    record("algo", data)
            else:
                store, record = {}, baselines.state_update
                start = time.perf_counter()
                for _ in range(STORE_EVENTS):
                    record(store, "algo", data)
            elapsed += time.perf_counter() - start
        return elapsed

    return timed


# ---- score_summary -----------------------------------------------------------


@functools.cache
def stream(n, shuffled):
    return workloads.event_stream(n, shuffled=shuffled)


@functools.cache
def summary_executor(n, shuffled):
    return workloads.module_events(stream(n, shuffled))


@functools.cache
def summary_events(n, shuffled):
    return workloads.python_events(stream(n, shuffled))


def score_summary(side, n, shuffled):
    if side == "module":
        return loop(functools.partial(summary_executor(n, shuffled).score_summary, "algo"))
    return loop(functools.partial(baselines.score_summary, summary_events(n, shuffled), "algo"))


# ---- reports -----------------------------------------------------------------


@functools.cache
def manager(instances):
    return workloads.module_manager(instances, EVENTS_PER_INSTANCE)


@functools.cache
def registry(instances):
    return workloads.python_registry(instances, EVENTS_PER_INSTANCE)


@functools.cache
def snapshot(instances):
    return workloads.snapshot_manager(manager(instances))


@functools.cache
def python_summaries(instances):
    return baselines.summaries_of(registry(instances)[1])


def report(side, which, instances, from_summaries):
    """The report end to end (metadata map, summaries, figures), or from a ready metadata map / ready summaries."""
    if side == "module":
        source = snapshot(instances) if from_summaries else manager(instances)
        return loop(getattr(source, "get_system_health_report" if which == "health" else "get_performance_analytics"))
    templates, events_by_name = registry(instances)
    if from_summaries:
        summaries = python_summaries(instances)
        if which == "health":
            return loop(functools.partial(baselines.health_figures, templates, summaries))
        return loop(functools.partial(baselines.analytics_figures, summaries))
    if which == "health":
        return loop(functools.partial(baselines.system_health_report, templates, events_by_name))
    return loop(functools.partial(baselines.performance_analytics, events_by_name))


# ---- templates ---------------------------------------------------------------


@functools.cache
def builtin_executor(name):
    return workloads.Executor.from_builtin(ZeZuvoRuntime(), name)


def populate_template(side, name):
    executor = builtin_executor(name)
    args = workloads.RENDER_ARGS[name]
    populate, render = executor.populate_template, executor._compiled_template.render

    def timed(loops):
        start = time.perf_counter()
        if side == "module":
            for _ in range(loops):
                populate(args)
        else:
            for _ in range(loops):
                render(**args)
        return time.perf_counter() - start

    return timed


def create_executor(side, name):
    if side == "module":
        builtin_executor(name)  # the compile cache is warm
        return loop(functools.partial(workloads.Executor.from_builtin, ZeZuvoRuntime(), name))
    from jinja2 import BaseLoader, Environment, meta

    text = zt.BUILTIN_TEMPLATES[name]

    def floor():
        environment = Environment(loader=BaseLoader(), trim_blocks=True, lstrip_blocks=True)
        return meta.find_undeclared_variables(environment.parse(text))

    return loop(floor)


# ---- import ------------------------------------------------------------------

IMPORT_PROBE = "import time; t = time.perf_counter(); import {module}; print(time.perf_counter() - t)"


def fresh_import(side):
    """Seconds that `import <module>` takes in a new interpreter, measured inside it."""
    module = "brevant.zezuvo_templates" if side == "module" else "jinja2"
    command = [sys.executable, "-c", IMPORT_PROBE.format(module=module)]

    def timed(loops):
        return sum(float(subprocess.run(command, check=True, capture_output=True, text=True).stdout)
                   for _ in range(loops))

    return timed


# ---- the suite ---------------------------------------------------------------


def benchmarks():
    """(name, factory, inner loops) for every benchmark, in table order."""
    rows = []

    def row(operation, size, make, inner_loops=None):
        for side in ("module", "python"):
            rows.append((f"{operation}|{size}|{side}", functools.partial(make, side), inner_loops))

    for variant in workloads.EVENT_MAPS:
        row(f"state_update ({variant})", "1 event", functools.partial(state_update, variant=variant), STORE_EVENTS)
    for n, shuffled in SUMMARY_SIZES:
        row("score_summary", f"1e{len(str(n)) - 1} {'shuffled' if shuffled else 'in order'}",
            functools.partial(score_summary, n=n, shuffled=shuffled))
    for which, operation in (("health", "get_system_health_report"), ("analytics", "get_performance_analytics")):
        for instances in REPORT_INSTANCES:
            row(operation, f"{instances} x {EVENTS_PER_INSTANCE}",
                functools.partial(report, which=which, instances=instances, from_summaries=False))
        row(f"{operation} (figures only)", f"{REPORT_INSTANCES[-1]} summaries",
            functools.partial(report, which=which, instances=REPORT_INSTANCES[-1], from_summaries=True))
    for name in zt.BUILTIN_TEMPLATES:
        row("populate_template", name, functools.partial(populate_template, name=name))
    for name in zt.BUILTIN_TEMPLATES:
        row("executor from_builtin", name, functools.partial(create_executor, name=name))
    row("import (fresh process)", "-", fresh_import)
    return rows


def add_cmdline_args(cmd, args):
    if args.only:
        cmd.extend(("--only", args.only))


def main():
    runner = pyperf.Runner(add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--only", help="run only the benchmarks whose name matches this regex")
    args = runner.parse_args()
    selected = re.compile(args.only or "")
    for name, factory, inner_loops in benchmarks():
        if not selected.search(name):
            continue
        # Workers build only the inputs of the benchmark they run.
        runner.bench_time_func(name, lambda loops, factory=factory: factory()(loops), inner_loops=inner_loops)


if __name__ == "__main__":
    main()
