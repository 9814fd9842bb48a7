"""Activating and deactivating instances, listings and summaries."""

import inspect
from datetime import datetime
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor


def test_activate_records_instance_and_returns_loader_values(executor, loader, clock, template_text):
    start, every = {"s"}, {"s", "t"}
    loader.result = (2, start, every)
    params = {"cond": "x", "action": "y"}

    assert executor.activate("inst", "rule text", template_parameters=params) == (2, start, every)

    assert loader.calls == [("rule text", True)]
    record = executor.get_active_info("inst")
    assert record == zt.ActiveTemplate("inst", "rule text", 2, start, every, datetime(2024, 5, 1, 9, 30),
                                       template_text, params, executor.template_source_id)
    assert record.start_ids is start and record.all_ids is every and record.template_parameters is params
    assert executor.list_active() == ["inst"]


@pytest.mark.parametrize("enable, passed", [(True, True), (False, False), (0, False), ("no", True), (None, False)])
def test_enable_reaches_loader_as_bool(executor, loader, enable, passed):
    executor.activate("inst", "text", enable)
    assert loader.calls == [("text", passed)]
    assert loader.calls[0][1] is passed
    assert executor.list_active() == ["inst"]


def test_activate_without_parameters_stores_none(executor):
    executor.activate("", "text")  # the empty name is a name like any other
    assert executor.get_active_info("").template_parameters is None
    assert executor.list_active() == [""]


def test_activating_an_active_name_fails_before_loading(executor, loader):
    executor.activate("inst", "one")
    first = executor.get_active_info("inst")
    with pytest.raises(ValueError, match=r"^Template 'inst' is already active$"):
        executor.activate("inst", "two")
    assert len(loader.calls) == 1
    assert executor.get_active_info("inst") is first


class Triple:
    """An iterable of three values that is neither tuple nor list."""

    def __iter__(self):
        return iter((1, {"a"}, {"a"}))


@pytest.mark.parametrize("result, returned", [
    ([1, {"a"}, {"a"}], (1, {"a"}, {"a"})),
    (Triple(), (1, {"a"}, {"a"})),
    ((v for v in (3, set(), set())), (3, set(), set())),
])
def test_loader_result_unpacks_like_python(executor, loader, result, returned):
    loader.result = result
    assert executor.activate("inst", "text") == returned
    assert executor.get_active_info("inst").created_count == returned[0]


@pytest.mark.parametrize("result, error, message", [
    ((1, set()), ValueError, r"not enough values to unpack \(expected 3, got 2\)"),
    ((1, set(), set(), 4), ValueError, r"too many values to unpack \(expected 3"),
    (5, TypeError, r"cannot unpack non-iterable int object"),
    (None, TypeError, r"cannot unpack non-iterable NoneType object"),
])
def test_loader_result_of_wrong_shape_records_nothing(executor, loader, result, error, message):
    loader.load = lambda text, activate=True: result
    with pytest.raises(error, match=message):
        executor.activate("inst", "text")
    assert executor.list_active() == []
    assert executor.get_active_info("inst") is None


def test_loader_error_passes_out_and_records_nothing(executor, loader):
    loader.error = KeyError("parse")
    with pytest.raises(KeyError):
        executor.activate("inst", "text")
    assert executor.list_active() == []
    loader.error = None
    executor.activate("inst", "text")
    assert executor.list_active() == ["inst"]


def test_deactivate_removes_every_id_once(executor, fake_runtime):
    executor.activate("inst", "text")
    ids = executor.get_active_info("inst").all_ids
    assert executor.deactivate("inst") is True
    assert sorted(fake_runtime.removed) == sorted(ids) and len(fake_runtime.removed) == 2
    assert executor.list_active() == []
    assert executor.deactivate("inst") is False
    assert len(fake_runtime.removed) == 2


def test_deactivate_of_unknown_name_calls_nothing(executor, fake_runtime):
    assert executor.deactivate("never") is False
    assert fake_runtime.removed == []


def test_failing_remove_keeps_instance_active(executor, fake_runtime, loader):
    loader.result = (3, {"a"}, {"a", "b", "c"})
    executor.activate("inst", "text")
    order = list(executor.get_active_info("inst").all_ids)
    fake_runtime.fail_on = order[1]
    with pytest.raises(RuntimeError, match="cannot remove"):
        executor.deactivate("inst")
    assert fake_runtime.removed == order[:1]
    assert executor.list_active() == ["inst"]
    assert executor.get_active_info("inst").all_ids == {"a", "b", "c"}
    fake_runtime.fail_on = None
    assert executor.deactivate("inst") is True
    assert executor.list_active() == []


def test_reactivation_moves_name_to_the_end(executor, clock):
    for name in "abc":
        executor.activate(name, name)
    executor.deactivate("b")
    clock.value = datetime(2024, 5, 1, 10, 0)
    executor.activate("b", "again")
    assert executor.list_active() == ["a", "c", "b"]
    assert list(executor.get_active_summary()) == ["a", "c", "b"]
    assert executor.get_active_info("b").activated_at == datetime(2024, 5, 1, 10, 0)
    assert executor.get_active_info("b").dsl_text == "again"


def test_listing_is_a_new_list(executor):
    executor.activate("a", "text")
    listed = executor.list_active()
    listed.append("x")
    assert executor.list_active() == ["a"]


def test_get_active_summary_counts_ids(executor, loader, clock):
    assert executor.get_active_summary() == {}
    loader.result = (5, {1, 2}, {1, 2, 3, 4, 5, 6, 7})
    executor.activate("inst", "text")
    assert executor.get_active_summary() == {
        "inst": zt.ActiveTemplateSummary(datetime(2024, 5, 1, 9, 30), 5, 7, 2)}


def test_deactivate_all_counts_and_empties(executor, fake_runtime):
    assert executor.deactivate_all() == 0
    for name in "abc":
        executor.activate(name, name)
    assert executor.deactivate_all() == 3
    assert executor.list_active() == []
    assert len(fake_runtime.removed) == 6


def test_failure_inside_deactivate_all_stops_there(executor, fake_runtime):
    for name in "abc":
        executor.activate(name, name)
    fake_runtime.fail_on = "2:start"  # an id of "b"
    with pytest.raises(RuntimeError):
        executor.deactivate_all()
    assert executor.list_active() == ["b", "c"]


def test_deactivate_all_goes_through_deactivate(executor):
    for name in "ab":
        executor.activate(name, name)
    seen = []

    def deactivate(self, name):
        seen.append(name)
        return 1 if name == "a" else 0  # counted by truth value

    with mock.patch.object(Executor, "deactivate", deactivate):
        assert executor.deactivate_all() == 1
    assert seen == ["a", "b"]


def test_events_survive_deactivation(executor):
    executor.activate("inst", "text")
    executor.state_update("inst", {"profit": 1.0, "win": True})
    executor.deactivate("inst")
    assert [e["profit"] for e in executor.score_get("inst")] == [1.0]


def test_create_and_activate_renders_then_activates(executor, loader):
    args = {"cond": "price > 1", "action": "buy()", "extra": 1}
    result = executor.create_and_activate("inst", args, enable=False)
    assert loader.calls == [('buy = "if price > 1: buy()"\nstart: buy', False)]
    record = executor.get_active_info("inst")
    assert record.template_parameters is args
    assert record.dsl_text == 'buy = "if price > 1: buy()"\nstart: buy'
    assert result == (record.created_count, record.start_ids, record.all_ids)


def test_create_and_activate_reports_rendering_error_even_for_active_name(executor, loader):
    executor.activate("inst", "text")
    with pytest.raises(ValueError, match=r"^Missing required template variables: \{'action'\}$"):
        executor.create_and_activate("inst", {"cond": 1})
    assert len(loader.calls) == 1


def test_create_and_activate_calls_the_methods_of_self(executor):
    calls = []

    def populate(self, template_args):
        calls.append(("populate_template", template_args))
        return "rendered"

    def activate(self, *args, **kwargs):
        calls.append(("activate", args, kwargs))
        return "done"

    args = {"cond": 1, "action": 2}
    with mock.patch.object(Executor, "populate_template", populate), mock.patch.object(Executor, "activate", activate):
        assert executor.create_and_activate("inst", args, 0) == "done"
    assert calls == [("populate_template", args),
                     ("activate", ("inst", "rendered"), {"enable": False, "template_parameters": args})]


def test_signatures():
    def params(method):
        return [(p.name, p.default) for p in inspect.signature(getattr(Executor, method)).parameters.values()]

    empty = inspect.Parameter.empty
    assert params("activate") == [("self", empty), ("name", empty), ("dsl_text", empty), ("enable", True),
                                  ("template_parameters", None)]
    assert params("create_and_activate") == [("self", empty), ("name", empty), ("template_args", empty),
                                             ("enable", True)]
    assert params("deactivate") == params("get_active_info") == [("self", empty), ("name", empty)]
    for method in ("list_active", "deactivate_all", "get_active_summary"):
        assert params(method) == [("self", empty)]


@pytest.mark.parametrize("call, message", [
    (lambda ex: ex.activate("a", "t", True, []), "Argument 'template_parameters' has incorrect type"),
    (lambda ex: ex.activate(b"a", "t"), "Argument 'name' has incorrect type"),
    (lambda ex: ex.deactivate(), r"deactivate\(\) takes exactly 2 positional arguments \(1 given\)"),
    (lambda ex: ex.create_and_activate("a", None), "Argument 'template_args' has incorrect type"),
])
def test_argument_checks(executor, loader, call, message):
    with pytest.raises(TypeError, match=message):
        call(executor)
    assert loader.calls == []


# ---- the loader and the runtime calling back into the executor ----------

def test_load_may_activate_and_deactivate_other_instances(executor, loader):
    executor.activate("old", "old text")

    def on_load(text):
        if text == "outer":
            executor.activate("inner", "inner")
            executor.deactivate("old")

    loader.on_load = on_load
    executor.activate("outer", "outer")
    assert executor.list_active() == ["inner", "outer"]
    assert executor.get_active_info("outer").dsl_text == "outer"


def test_load_that_activates_the_same_name_keeps_the_inner_instance(executor, loader):
    def on_load(text):
        if text == "outer":
            executor.activate("inst", "inner")

    loader.on_load = on_load
    with pytest.raises(ValueError, match=r"^Template 'inst' is already active$"):
        executor.activate("inst", "outer")
    assert executor.get_active_info("inst").dsl_text == "inner"
    assert executor.list_active() == ["inst"]


def test_load_may_replace_the_instance_table(executor, loader):
    replacement = {}
    loader.on_load = lambda text: setattr(executor, "_active_templates", replacement)
    executor.activate("inst", "text")
    assert list(replacement) == ["inst"]


def test_remove_may_deactivate_the_same_instance(executor, fake_runtime):
    executor.activate("inst", "text")

    def on_remove(pid):
        fake_runtime.on_remove = None
        assert executor.deactivate("inst") is True

    fake_runtime.on_remove = on_remove
    assert executor.deactivate("inst") is True
    assert executor.list_active() == []
    assert len(fake_runtime.removed) == 4  # the inner call removed both ids, the outer one again


def test_remove_may_reactivate_the_same_name(executor, fake_runtime):
    executor.activate("inst", "first")

    def on_remove(pid):
        fake_runtime.on_remove = None
        executor.deactivate("inst")
        executor.activate("inst", "second")

    fake_runtime.on_remove = on_remove
    assert executor.deactivate("inst") is True
    assert executor.get_active_info("inst").dsl_text == "second"


def test_deactivate_all_skips_names_a_callback_deactivated(executor, fake_runtime):
    for name in "abc":
        executor.activate(name, name)

    def on_remove(pid):
        fake_runtime.on_remove = None
        executor.deactivate("c")
        executor.activate("d", "d")

    fake_runtime.on_remove = on_remove
    assert executor.deactivate_all() == 2  # a and b; c went in the callback
    assert executor.list_active() == ["d"]


def test_end_to_end_with_the_runtime(runtime):
    executor = Executor.from_builtin(runtime, "simple_flipper.dsl")
    args = {name: "x" for name in executor.get_template_variables()}
    created, start_ids, all_ids = executor.create_and_activate("inst", args)
    assert created == len(all_ids) == len(runtime) > 0 and start_ids <= all_ids
    assert executor.deactivate("inst") is True
    assert len(runtime) == 0
