"""Faults injected into the runtime, the loader, the compile cache and the host facilities the module uses.

Each failure must leave the manager's registry, the executors' instance and event tables, the compile cache and
the runtime's predicates exactly as the failing step left them: what earlier steps did stays done, nothing else
changes.  The runtime and loader are the stand-ins themselves, subclassed to fail on cue.
"""

import contextlib
import types
from datetime import datetime, timezone
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime
from brevant.zezuvo_dsl import ZeZuvoDSLLoader

# Three predicates per instance: two rules and a flow (the start predicate).
RULES = """\
{{ p }}_check = "if {{ s }} { A.stopped is True }: cancel {{ s }}*"
{{ p }}_reset = "if {{ s }} { A.stopped is False }: say reset"

flow {{ p }}_main:
    {{ p }}_check -> {{ p }}_reset -> @

start: {{ p }}_main
"""
PER_INSTANCE = 3


def args(prefix):
    return {"p": prefix, "s": "/NQM5"}


class Injected(Exception):
    """The fault."""


class FlakyRuntime(ZeZuvoRuntime):
    """The stand-in runtime whose n-th remove or n-th create_predicate (counted from arming) raises."""

    def arm(self, remove_at=None, create_at=None):
        self.remove_at, self.create_at, self.removes, self.creates = remove_at, create_at, 0, 0

    def remove(self, pid):
        self.removes = getattr(self, "removes", 0) + 1
        if self.removes == getattr(self, "remove_at", None):
            raise Injected(f"remove #{self.removes}")
        return super().remove(pid)

    def create_predicate(self, *args):
        self.creates = getattr(self, "creates", 0) + 1
        if self.creates == getattr(self, "create_at", None):
            raise Injected(f"create #{self.creates}")
        return super().create_predicate(*args)


class Poison:
    """A value whose truth test fails."""

    def __bool__(self):
        raise Injected("truth")


@pytest.fixture(autouse=True)
def fresh_cache():
    with mock.patch.object(zt, "_template_cache", zt.TemplateCache()) as cache:
        yield cache


@pytest.fixture
def runtime():
    return FlakyRuntime()


@pytest.fixture
def manager(runtime):
    """Templates "a" (instances a.x, a.y) and "b" (instance b.z), each instance with one event."""
    manager = zt.ZeZuvoMultiTemplateManager(runtime)
    for template, instances in (("a", "xy"), ("b", "z")):
        manager.from_string(RULES + f"# {template}\n", template)
        for instance in instances:
            manager.activate(template, instance, args(template + instance))
            manager.state_update(template, instance, {"profit": 1.0, "win": True})
    return manager


def state(manager):
    """Everything a failure could corrupt: registry, instance records, event counts, predicates, cache keys."""
    executors = manager._executors
    return {
        "registry": [(name, id(executor)) for name, executor in executors.items()],
        "active": {name: [(k, id(record), set(record.all_ids)) for k, record in e._active_templates.items()]
                   for name, e in executors.items()},
        "events": {name: {k: len(v) for k, v in e._performance_events.items()} for name, e in executors.items()},
        "predicates": set(manager.zezuvo_runtime.predicates()),
        "cache": list(getattr(zt._template_cache, "_cache", {})),
    }


def ids_of(manager, template, instance):
    return list(manager[template].get_active_info(f"{template}.{instance}").all_ids)


# ---- loading fails -----------------------------------------------------------------------------------------------

ACTIVATIONS = {
    "activate": lambda m: m.activate("a", "w", args("aw")),
    "activate_from_populated_dsl": lambda m: m.activate_from_populated_dsl("a", "w", m.preview_template("a", args("aw"))),
}


@pytest.mark.parametrize("activation", ACTIVATIONS.values(), ids=ACTIVATIONS)
@pytest.mark.parametrize("fail_at", range(1, PER_INSTANCE + 1))
def test_runtime_failing_while_loading_records_nothing(manager, runtime, activation, fail_at):
    before = state(manager)
    runtime.arm(create_at=fail_at)
    with pytest.raises(Injected, match=f"create #{fail_at}"):
        activation(manager)
    after = state(manager)
    # What the loader created before failing is not tracked, and nothing the module tracked was touched.
    assert after["predicates"] >= before["predicates"]
    assert {**after, "predicates": None} == {**before, "predicates": None}
    runtime.arm()
    activation(manager)
    assert manager.list_active_for_template("a") == ["a.x", "a.y", "a.w"]


class LoaderFailingToStart(ZeZuvoDSLLoader):
    def __init__(self):
        raise Injected("loader")


class LoaderRefusingTheRuntime(ZeZuvoDSLLoader):
    def __setattr__(self, name, value):
        raise Injected("zezuvoRuntime")


@pytest.mark.parametrize("loader", [LoaderFailingToStart, LoaderRefusingTheRuntime])
@pytest.mark.parametrize("register", ["from_builtin", "from_string"])
def test_loader_failing_while_an_executor_is_made(manager, loader, register):
    before = state(manager)
    with mock.patch.object(zt, "ZeZuvoDSLLoader", loader), pytest.raises(Injected):
        if register == "from_builtin":
            manager.from_builtin("simple_flipper.dsl")
        else:
            manager.from_string("{{ q }}", "c")
    assert state(manager) == before  # nothing registered, nothing compiled


def raising_midway(result):
    yield from result
    raise Injected("after three values")


def raising_at_once(result):
    raise Injected("no values")
    yield  # pragma: no cover - makes this a generator


@pytest.mark.parametrize("shape", [raising_midway, raising_at_once])
def test_loader_result_that_fails_to_unpack_records_nothing(runtime, shape):
    class ShapedLoader(ZeZuvoDSLLoader):
        def load(self, text, activate=True):
            return shape(super().load(text, activate=activate))

    manager = zt.ZeZuvoMultiTemplateManager(runtime)
    with mock.patch.object(zt, "ZeZuvoDSLLoader", ShapedLoader):
        manager.from_string(RULES, "a")
    with pytest.raises(Injected):
        manager.activate("a", "x", args("ax"))
    assert manager.list_all_active() == []
    assert len(runtime) == PER_INSTANCE  # loaded, but the module tracks none of it


# ---- removing fails midway ---------------------------------------------------------------------------------------

# (operation, instances it walks, in order)
DEACTIVATIONS = {
    "deactivate": (lambda m: m.deactivate("a", "x"), [("a", "x")]),
    "deactivate_template": (lambda m: m.deactivate_template("a"), [("a", "x"), ("a", "y")]),
    "remove_template": (lambda m: m.remove_template("a"), [("a", "x"), ("a", "y")]),
    "deactivate_all": (lambda m: m.deactivate_all(), [("a", "x"), ("a", "y"), ("b", "z")]),
}
CASES = [(name, fail_at) for name, (_, walked) in DEACTIVATIONS.items()
         for fail_at in range(1, PER_INSTANCE * len(walked) + 1)]


@pytest.mark.parametrize("name, fail_at", CASES)
def test_remove_failing_midway(manager, runtime, name, fail_at):
    operation, walked = DEACTIVATIONS[name]
    before = state(manager)
    removal_order = [(t, i, pid) for t, i in walked for pid in ids_of(manager, t, i)]
    failed_template, failed_instance, _ = removal_order[fail_at - 1]
    removed = {pid for _, _, pid in removal_order[:fail_at - 1]}
    finished = {(t, i) for t, i, _ in removal_order[:fail_at - 1]} - {(failed_template, failed_instance)}
    failed_record = manager[failed_template].get_active_info(f"{failed_template}.{failed_instance}")

    runtime.arm(remove_at=fail_at)
    with pytest.raises(Injected, match=f"remove #{fail_at}"):
        operation(manager)

    after = state(manager)
    assert after["predicates"] == before["predicates"] - removed
    assert after["registry"] == before["registry"]  # remove_template keeps the name
    assert after["events"] == before["events"]
    assert manager.list_all_active() == [f"{t}.{i}" for t, i in (("a", "x"), ("a", "y"), ("b", "z"))
                                         if (t, i) not in finished]
    # The instance whose removal failed keeps its very record, all its ids included.
    assert manager[failed_template].get_active_info(f"{failed_template}.{failed_instance}") is failed_record

    runtime.arm()
    operation(manager)
    untouched = {("a", "x"), ("a", "y"), ("b", "z")} - set(walked)
    assert manager.list_all_active() == [f"{t}.{i}" for t, i in sorted(untouched)]
    assert len(runtime) == PER_INSTANCE * len(untouched)


# ---- truth tests that raise ---------------------------------------------------------------------------------------

def deactivate_then_poison(self, name):
    original(self, name)
    return Poison()


original = zt.ZeZuvoRuntimeTemplateExecutor.deactivate

TRUTH_FAULTS = {
    # (patch, operation, instances active afterwards)
    "enable flag": (None, lambda m: m.activate("a", "w", args("aw"), Poison()), ["a.x", "a.y", "b.z"]),
    "validation result": (
        ("validate_template_args", lambda self, template_args: (Poison(), set())),
        lambda m: m.activate("a", "w", args("aw")), ["a.x", "a.y", "b.z"]),
    "deactivation result": (
        ("deactivate", deactivate_then_poison), lambda m: m.deactivate_template("a"), ["a.y", "b.z"]),
    "include_performance flag": (None, lambda m: m.export_template_configurations(Poison()), ["a.x", "a.y", "b.z"]),
}


@pytest.mark.parametrize("patch, operation, active", TRUTH_FAULTS.values(), ids=TRUTH_FAULTS)
def test_truth_test_that_raises(manager, patch, operation, active):
    before = state(manager)
    gone = {pid for t, i in (("a", "x"), ("a", "y"), ("b", "z")) if f"{t}.{i}" not in active
            for pid in ids_of(manager, t, i)}
    patcher = mock.patch.object(zt.ZeZuvoRuntimeTemplateExecutor, *patch) if patch else contextlib.nullcontext()
    with patcher, pytest.raises(Injected, match="truth"):
        operation(manager)
    after = state(manager)
    assert manager.list_all_active() == active
    assert after["predicates"] == before["predicates"] - gone
    assert (after["registry"], after["events"], after["cache"]) == (before["registry"], before["events"],
                                                                      before["cache"])


def test_stored_win_whose_truth_test_raises(manager):
    executor = manager["a"]
    executor._performance_events["a.x"].append(zt.PerformanceEvent(datetime.now(), 1.0, Poison()))
    before = state(manager)
    for query in (lambda: manager.get_performance_summary("a", "x"), manager.get_system_health_report):
        with pytest.raises(Injected):
            query()
    assert state(manager) == before


# ---- a "ts" that is not a date-time -------------------------------------------------------------------------------

SUMMARISING = {
    "get_performance_summary": lambda m: m.get_performance_summary("a", "x"),
    "get_performance_events": lambda m: m.get_performance_events("a", "x"),
    "get_all_performance_summaries": lambda m: m.get_all_performance_summaries(),
    "get_template_instance_metadata": lambda m: m.get_template_instance_metadata("a", "x"),
    "get_template_debug_info": lambda m: m.get_template_debug_info("a", "x"),
    "get_system_health_report": lambda m: m.get_system_health_report(),
    "get_template_usage_statistics": lambda m: m.get_template_usage_statistics(),
    "export_template_configurations": lambda m: m.export_template_configurations(),
    "get_performance_analytics": lambda m: m.get_performance_analytics(),
}


@pytest.mark.parametrize("ts", ["later", None, 5, datetime(2024, 1, 1, tzinfo=timezone.utc)], ids=repr)
def test_timestamp_that_is_not_comparable(manager, ts):
    manager.state_update("a", "x", {"profit": 2.0, "win": False, "ts": ts})
    before = state(manager)
    for name, query in SUMMARISING.items():
        with pytest.raises(TypeError):
            query(manager)
        assert state(manager) == before, name
    # What does not summarise the instance still works.
    assert manager.get_performance_summary("b", "z").total_events == 1
    assert manager.validate_all_templates()["a"].status == "valid"


@pytest.mark.parametrize("ts, error", [("later", TypeError), (5, AttributeError), (None, TypeError)], ids=repr)
def test_single_timestamp_that_cannot_be_subtracted(manager, ts, error):
    manager.state_update("a", "w", {"profit": 2.0, "win": False, "ts": ts})
    assert [e["ts"] for e in manager.get_performance_events("a", "w")] == [ts]
    with pytest.raises(error):
        manager.get_performance_summary("a", "w")


# ---- the compile cache fails -------------------------------------------------------------------------------------

class FailingCache:
    def get_template(self, template_path, content):
        raise Injected("get_template")

    def clear(self):
        raise Injected("clear")


class UnwritableMap(dict):
    def __setitem__(self, key, value):
        raise Injected("store")


REGISTRATIONS = {
    "from_string": lambda m, d: m.from_string("{{ q }}", "c"),
    "from_builtin": lambda m, d: m.from_builtin("simple_flipper.dsl", "c"),
    "from_file": lambda m, d: m.from_file(d / "c.dsl"),
}


@pytest.fixture
def template_dir(tmp_path):
    (tmp_path / "c.dsl").write_text("{{ q }}", encoding="utf-8")
    return tmp_path


@pytest.mark.parametrize("register", REGISTRATIONS.values(), ids=REGISTRATIONS)
@pytest.mark.parametrize("cache", [FailingCache, lambda: zt.TemplateCache(UnwritableMap())],
                         ids=["get_template raises", "storing raises"])
def test_failing_compile_cache_registers_nothing(manager, template_dir, register, cache):
    replacement = cache()
    with mock.patch.object(zt, "_template_cache", replacement):
        before = state(manager)
        with pytest.raises(Injected):
            register(manager, template_dir)
        assert state(manager) == before
    assert "c" not in manager


def test_failing_cache_clear(manager):
    before = state(manager)
    with mock.patch.object(zt, "_template_cache", FailingCache()), pytest.raises(Injected, match="clear"):
        manager.clear_template_cache()
    assert state(manager) == before
    assert "a_check" in manager.preview_template("a", args("a"))


# ---- host facilities fail ----------------------------------------------------------------------------------------

def failing(*_, **__):
    raise Injected("host")


def os_with(**path_functions):
    import os.path

    functions = {"exists": os.path.exists, "getmtime": os.path.getmtime, **path_functions}
    return types.SimpleNamespace(path=types.SimpleNamespace(**functions))


class PathWithFailingExists(type(zt.Path())):
    def exists(self, *args, **kwargs):
        raise PermissionError("exists")


HOST_FAULTS = {
    "Path type": ("Path", failing, REGISTRATIONS["from_file"], Injected),
    "Path.exists": ("Path", PathWithFailingExists, REGISTRATIONS["from_file"], PermissionError),
    "os.path.exists": ("os", os_with(exists=failing), REGISTRATIONS["from_string"], Injected),
    "hashlib": ("hashlib", types.SimpleNamespace(md5=failing, sha256=failing), REGISTRATIONS["from_string"],
                Injected),
    "time": ("time", types.SimpleNamespace(time=failing), REGISTRATIONS["from_string"], Injected),
    "Template": ("Template", failing, REGISTRATIONS["from_builtin"], Injected),
}


@pytest.mark.parametrize("name, replacement, register, error", HOST_FAULTS.values(), ids=HOST_FAULTS)
def test_failing_host_facility_registers_nothing(manager, template_dir, name, replacement, register, error):
    before = state(manager)
    with mock.patch.object(zt, name, replacement), pytest.raises(error):
        register(manager, template_dir)
    assert state(manager) == before
    assert "c" not in manager


def test_modification_time_failing_after_compiling_loses_the_template(manager, runtime, template_dir):
    key = str(template_dir / "c.dsl")  # a source identifier that names a file
    before = state(manager)
    with mock.patch.object(zt, "os", os_with(getmtime=failing)), pytest.raises(Injected):
        zt.ZeZuvoRuntimeTemplateExecutor.from_string(runtime, "{{ q }}", key)
    assert state(manager) == before
    assert key not in zt._template_cache._cache


CLOCK_FAULTS = {
    # The clock is read after loading: the loaded predicates stay in the runtime, untracked.
    "activate": (lambda m: m.activate("a", "w", args("aw")), PER_INSTANCE),
    "state_update": (lambda m: m.state_update("a", "x", {"profit": 1.0, "win": True}), 0),
    "get_template_debug_info": (lambda m: m.get_template_debug_info("a", "x"), 0),
    "get_system_health_report": (lambda m: m.get_system_health_report(), 0),
}


@pytest.mark.parametrize("operation, orphans", CLOCK_FAULTS.values(), ids=CLOCK_FAULTS)
def test_failing_clock(manager, runtime, operation, orphans):
    before = state(manager)
    with mock.patch.object(zt, "datetime", types.SimpleNamespace(now=failing)), pytest.raises(Injected):
        operation(manager)
    after = state(manager)
    assert len(after["predicates"] - before["predicates"]) == orphans
    assert {**after, "predicates": None} == {**before, "predicates": None}
