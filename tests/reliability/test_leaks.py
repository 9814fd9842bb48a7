"""Memory stays flat under repetition.

Each case is one public operation on its success or on a failure path (or an activation paired
with the deactivation that undoes it, so that the state itself stays the same size).  Run ten
thousand times after a short warm-up, it must leave the interpreter's count of allocated blocks,
the process's resident memory and the C allocator's bytes in use where they were.  The manager's own operations are
covered for reference counts in tests/manager; here the executor, the records, the argument
builders, the compile cache and the reports are.
"""

import ctypes
import dataclasses
import gc
import itertools
import os
import sys
import types
from datetime import datetime

import jinja2
import pytest

import brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime

Executor = zt.ZeZuvoRuntimeTemplateExecutor

# Sanitizer runs set PYTHONMALLOC=malloc: no block count then, and their allocator keeps freed
# memory in quarantine.  LeakSanitizer checks those runs instead.
pytestmark = pytest.mark.skipif(sys.getallocatedblocks() == 0, reason="needs the interpreter's own allocator")

REPEAT = 10_000
# Long enough to fill the interpreter's bounded caches (the type attribute cache keeps the names
# of the last lookups, and template parsing looks up a new name string per node).
WARM_UP = 1_000
# Limits for the growth over half of the repetitions.  A leak grows in both halves; filling a
# cache, or the allocator touching a new arena (up to a MiB at once), happens in one only.
# One block lost every ten calls exceeds the first; 5,000 lost allocations of 32 bytes the second.
BLOCK_SLACK = REPEAT // 20
RSS_SLACK = 128 * 1024
# Resident memory misses native leaks while the heap still has free pages to hand out; the C
# allocator's own count of bytes in use does not (5,000 lost 16-byte allocations exceed this).
MALLOC_SLACK = 64 * 1024

ENTRY = 'entry_{{ symbol }} = "if price > {{ level }}: buy"\n'
ARGS = {"symbol": "MNQ", "level": 10}
DSL = 'x = "if a: b"\n'
T0 = datetime(2024, 5, 1, 9, 30)
T1 = datetime(2024, 5, 1, 9, 31, 0, 500)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
if hasattr(_libc, "mallinfo2"):
    _libc.mallinfo2.restype = _MallInfo2


def malloced_bytes():
    """Bytes that glibc's malloc has handed out and not got back (0 where there is no mallinfo2)."""
    if not hasattr(_libc, "mallinfo2"):
        return 0
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def fails(error, operation, *args, **kwargs):
    """A call of operation that must raise error."""

    def call():
        try:
            operation(*args, **kwargs)
        except error:
            return
        raise AssertionError(f"{operation} did not raise {error.__name__}")

    return call


def then(*calls):
    """One call that makes each of `calls` in turn."""

    def call():
        for c in calls:
            c()

    return call


class FailingRuntime(ZeZuvoRuntime):
    def remove(self, pid):
        raise RuntimeError("cannot remove")


class Unprintable:
    def __str__(self):
        raise ZeroDivisionError("no text")


@pytest.fixture
def world(tmp_path, monkeypatch):
    """Small objects the cases work on: an executor with an active instance and events (one
    name with a bad timestamp among them), a template file, and a manager with reports to make."""
    # A small catalogue entry keeps the repeated built-in creation cheap; it takes the same path.
    monkeypatch.setitem(zt.BUILTIN_TEMPLATES, "tiny.dsl", ENTRY)
    runtime = ZeZuvoRuntime()
    ex = Executor.from_string(runtime, ENTRY, "leaks")
    ex.create_and_activate("on", dict(ARGS))
    ex.activate("bare", DSL, False)
    for ts, profit, win in ((T1, 150.0, True), (T0, -25.0, False), (T1, 0.1, False)):
        ex.state_update("on", {"profit": profit, "win": win, "ts": ts, "note": "n"})
    ex.state_update("mixed", {"profit": 1.0, "win": True, "ts": T0})
    ex.state_update("mixed", {"profit": 1.0, "win": True, "ts": "later"})

    # An executor whose runtime cannot remove and whose loader answers with two values, not three.
    stuck = Executor.from_string(FailingRuntime(), ENTRY, "leaks")
    stuck.activate("on", DSL)
    stuck._dsl_loader = types.SimpleNamespace(load=lambda text, activate: (1, set()))

    path = tmp_path / "entry.dsl"
    path.write_text(ENTRY)
    (tmp_path / "folder.dsl").mkdir()

    manager = zt.ZeZuvoMultiTemplateManager(runtime)
    for template in ("alpha", "beta"):
        manager.from_string(ENTRY, template)
        manager.activate(template, "fast", dict(ARGS))
        manager.state_update(template, "fast", {"profit": 2.5, "win": True, "ts": T0})
    manager.activate("beta", "slow", dict(ARGS))
    manager.from_builtin("simple_flipper.dsl")

    # A manager whose reports fail while gathering the metadata (timestamps that cannot be compared),
    # and whose validation report meets a template that cannot be inspected.
    broken = zt.ZeZuvoMultiTemplateManager(runtime)
    broken.from_string(ENTRY, "gamma")
    broken.activate("gamma", "x", dict(ARGS))
    broken.state_update("gamma", "x", {"profit": 1.0, "win": True, "ts": T0})
    broken.state_update("gamma", "x", {"profit": 1.0, "win": True, "ts": "later"})
    broken._executors["odd"] = types.SimpleNamespace(get_template_variables=lambda: 1 / 0)

    return types.SimpleNamespace(runtime=runtime, ex=ex, stuck=stuck, path=path, dir=tmp_path, manager=manager,
                                 broken=broken, cache=zt.TemplateCache())


def record_values(record_type):
    return [f.name for f in dataclasses.fields(record_type)]


RECORD_TYPES = [getattr(zt, name) for name in (
    "CachedTemplate", "ActiveTemplate", "PerformanceEvent", "PerformanceSummary", "TemplateMetadata",
    "SystemHealthReport", "TemplateValidationResult", "TemplateUsageStatistics", "SystemInfo", "TemplateDefinition",
    "ExportPerformanceData", "InstanceConfiguration", "TemplateConfigurationExport", "SystemMetrics",
    "InstancePerformanceData", "TemplatePerformanceAggregate", "PerformanceAnalytics", "TemplateDebugInfo",
    "ActiveTemplateSummary", "TemplateInfo")]


def every_record():
    for record_type in RECORD_TYPES:
        record = record_type(*record_values(record_type))
        assert record == record_type(*record_values(record_type)) and repr(record)


# (name, case): case(world) returns the call to repeat.
CASES = [
    # -- executor: construction
    ("from_builtin", lambda w: lambda: Executor.from_builtin(w.runtime, "tiny.dsl")),
    ("from_builtin unknown", lambda w: fails(ValueError, Executor.from_builtin, w.runtime, "nope.dsl")),
    ("from_string", lambda w: lambda: Executor.from_string(w.runtime, ENTRY)),
    ("from_string given id", lambda w: lambda: Executor.from_string(w.runtime, ENTRY, "leaks")),
    ("from_string empty", lambda w: fails(ValueError, Executor.from_string, w.runtime, " \n")),
    ("from_string syntax error", lambda w: fails(jinja2.TemplateSyntaxError, Executor.from_string, w.runtime,
                                                 "{% if %}", "leaks:broken")),
    ("from_file", lambda w: lambda: Executor.from_file(w.runtime, w.path)),
    ("from_file missing", lambda w: fails(FileNotFoundError, Executor.from_file, w.runtime, w.dir / "none.dsl")),
    ("from_file directory", lambda w: fails(OSError, Executor.from_file, w.runtime, w.dir / "folder.dsl")),
    ("from_file wrong type", lambda w: fails(TypeError, Executor.from_file, w.runtime, 5)),
    # -- executor: variables and rendering
    ("get_template_variables", lambda w: w.ex.get_template_variables),
    ("validate_template_args", lambda w: lambda: w.ex.validate_template_args({"symbol": "A"})),
    ("validate_template_args wrong type", lambda w: fails(TypeError, w.ex.validate_template_args, None)),
    ("populate_template", lambda w: lambda: w.ex.populate_template(ARGS)),
    ("populate_template missing", lambda w: fails(ValueError, w.ex.populate_template, {"symbol": "A"})),
    ("populate_template render error", lambda w: fails(ValueError, w.ex.populate_template,
                                                       {"symbol": jinja2.StrictUndefined(), "level": 1})),
    ("populate_template other error", lambda w: fails(ZeroDivisionError, w.ex.populate_template,
                                                      {"symbol": Unprintable(), "level": 1})),
    ("populate_template wrong type", lambda w: fails(TypeError, w.ex.populate_template, [])),
    # -- executor: activation lifecycle
    ("activate and deactivate", lambda w: then(lambda: w.ex.activate("tmp", DSL, True, ARGS),
                                               lambda: w.ex.deactivate("tmp"))),
    ("create_and_activate and deactivate_all",
     lambda w: then(lambda: w.ex.create_and_activate("tmp", ARGS), w.ex.deactivate_all,
                    lambda: (w.ex.create_and_activate("on", dict(ARGS)), w.ex.activate("bare", DSL, False)))),
    ("activate already active", lambda w: fails(ValueError, w.ex.activate, "on", DSL)),
    ("activate unloadable text", lambda w: fails(ValueError, w.ex.activate, "tmp", "not rule text")),
    ("activate loader answers two values", lambda w: fails(ValueError, w.stuck.activate, "tmp", DSL)),
    ("deactivate remove fails", lambda w: fails(RuntimeError, w.stuck.deactivate, "on")),
    ("deactivate_all remove fails", lambda w: fails(RuntimeError, w.stuck.deactivate_all)),
    ("activate wrong count", lambda w: fails(TypeError, w.ex.activate, "tmp")),
    ("activate unexpected keyword", lambda w: fails(TypeError, w.ex.activate, "tmp", DSL, colour=1)),
    ("create_and_activate missing", lambda w: fails(ValueError, w.ex.create_and_activate, "tmp", {})),
    ("deactivate inactive", lambda w: lambda: w.ex.deactivate("none")),
    ("list_active", lambda w: w.ex.list_active),
    ("get_active_info", lambda w: lambda: (w.ex.get_active_info("on"), w.ex.get_active_info("none"))),
    ("get_active_summary", lambda w: w.ex.get_active_summary),
    # -- executor: performance
    ("state_update", lambda w: then(lambda: w.ex.state_update("tmp", {"profit": "1.5", "win": True, "k": 1}),
                                    lambda: w.ex._performance_events.pop("tmp"))),
    ("state_update missing profit", lambda w: fails(ValueError, w.ex.state_update, "tmp", {"win": True})),
    ("state_update bad profit", lambda w: fails(ValueError, w.ex.state_update, "tmp", {"profit": "x", "win": True})),
    ("state_update profit overflow", lambda w: fails(OverflowError, w.ex.state_update, "tmp",
                                                     {"profit": 10**400, "win": True})),
    ("state_update bad win", lambda w: fails(ValueError, w.ex.state_update, "tmp", {"profit": 1, "win": 1})),
    ("score_get", lambda w: lambda: (w.ex.score_get("on"), w.ex.score_get("none"))),
    ("score_summary", lambda w: lambda: (w.ex.score_summary("on"), w.ex.score_summary("none"))),
    ("score_summary uncomparable", lambda w: fails(TypeError, w.ex.score_summary, "mixed")),
    ("score_get uncomparable", lambda w: fails(TypeError, w.ex.score_get, "mixed")),
    # -- executor: metadata
    ("get_comprehensive_metadata", lambda w: lambda: (w.ex.get_comprehensive_metadata("on"),
                                                      w.ex.get_comprehensive_metadata("bare"),
                                                      w.ex.get_comprehensive_metadata("none"))),
    ("get_all_active_metadata", lambda w: w.ex.get_all_active_metadata),
    ("get_template_debug_info", lambda w: lambda: (w.ex.get_template_debug_info("on"),
                                                   w.ex.get_template_debug_info("none"))),
    ("metadata uncomparable", lambda w: then(lambda: w.ex.activate("mixed", DSL),
                                             fails(TypeError, w.ex.get_comprehensive_metadata, "mixed"),
                                             lambda: w.ex.deactivate("mixed"))),
    # -- records
    ("records", lambda w: every_record),
    ("record missing field", lambda w: fails(TypeError, zt.PerformanceSummary, "n", 1)),
    ("record unknown attribute", lambda w: fails(AttributeError, setattr, zt.SystemInfo(1, 2), "extra", 1)),
    # -- argument builders
    ("algo flipper arguments", lambda w: lambda: zt.create_template_args_for_algo_flipper(
        "MNQ", "/NQM5", "/MNQ", "MNQ", 35.9, "algo", True, offset=2, profit_pts=4, loss_pts=7, flip_sides="long")),
    ("algo flipper wrong type", lambda w: fails(TypeError, zt.create_template_args_for_algo_flipper,
                                                "MNQ", "/NQM5", "/MNQ", "MNQ", 35, "algo", None)),
    ("symbol config", lambda w: lambda: zt.create_symbol_config_for_flipper("ES", "/ESZ4", "/ESZ5", "ES", 5, "a", 1)),
    ("symbol config wrong type", lambda w: fails(TypeError, zt.create_symbol_config_for_flipper,
                                                 "ES", "/ESZ4", "/ESZ5", "ES", algo=5)),
    # -- compile cache
    ("cache hit", lambda w: lambda: zt._template_cache.get_template("leaks", ENTRY)),
    ("cache compile", lambda w: then(lambda: w.cache.get_template("k", "{{ a }}"), w.cache.clear)),
    ("cache recompile on change", lambda w: (lambda texts: lambda: w.cache.get_template("k", next(texts)))(
        itertools.cycle("ab"))),
    ("cache key of an existing file", lambda w: lambda: w.cache.get_template(str(w.path), ENTRY)),
    ("cache syntax error", lambda w: fails(jinja2.TemplateSyntaxError, w.cache.get_template, "k", "{% if %}")),
    ("cache unencodable", lambda w: fails(UnicodeEncodeError, w.cache.get_template, "k", "\ud800")),
    ("cache wrong type", lambda w: fails(TypeError, w.cache.get_template, 1, "a")),
    # -- reports
    ("health report", lambda w: w.manager.get_system_health_report),
    ("validation report", lambda w: w.manager.validate_all_templates),
    ("usage statistics", lambda w: w.manager.get_template_usage_statistics),
    ("configuration export", lambda w: lambda: (w.manager.export_template_configurations(),
                                                w.manager.export_template_configurations(False))),
    ("performance analytics", lambda w: w.manager.get_performance_analytics),
    ("validation report with an error", lambda w: w.broken.validate_all_templates),
    ("health report failure", lambda w: fails(TypeError, w.broken.get_system_health_report)),
    ("usage statistics failure", lambda w: fails(TypeError, w.broken.get_template_usage_statistics)),
    ("configuration export failure", lambda w: fails(TypeError, w.broken.export_template_configurations)),
    ("performance analytics failure", lambda w: fails(TypeError, w.broken.get_performance_analytics)),
    ("report wrong count", lambda w: fails(TypeError, w.manager.get_performance_analytics, 1)),
    # -- manager operations the reference-count test leaves out
    ("deactivate_template", lambda w: then(lambda: w.manager.activate("alpha", "tmp", ARGS),
                                           lambda: w.manager.deactivate_template("alpha"),
                                           lambda: w.manager.activate("alpha", "fast", ARGS))),
    ("registry listings", lambda w: lambda: (w.manager.get_template_names(), w.manager.get_available_builtin_names(),
                                             w.manager.list_active_for_template("beta"),
                                             w.manager.list_active_for_template("none"),
                                             w.manager.get_template_variables("alpha"))),
    ("lookup failures", lambda w: then(fails(ValueError, w.manager.get_template_variables, "none"),
                                       fails(ValueError, w.manager.get_performance_summary, "none", "x"))),
]


@pytest.mark.parametrize("case", [case for _, case in CASES], ids=[name for name, _ in CASES])
def test_memory_stays_flat(world, case):
    call = case(world)
    for _ in range(WARM_UP):
        call()
    halves = []
    for _ in range(2):
        gc.collect()
        before = sys.getallocatedblocks(), resident_bytes(), malloced_bytes()
        for _ in range(REPEAT // 2):
            call()
        gc.collect()
        after = sys.getallocatedblocks(), resident_bytes(), malloced_bytes()
        halves.append([a - b for a, b in zip(after, before)])
    for measure, slack in enumerate((BLOCK_SLACK, RSS_SLACK, MALLOC_SLACK)):
        assert min(half[measure] for half in halves) < slack, halves
