"""Instance metadata and debug information."""

import copy
from datetime import datetime, timedelta
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

Executor = zt.ZeZuvoRuntimeTemplateExecutor
T0 = datetime(2024, 5, 1, 9, 30)
ARGS = {"cond": "price > 1", "action": "buy()"}
RENDERED = 'buy = "if price > 1: buy()"\nstart: buy'


def test_metadata_of_created_instance(executor, loader, clock, template_text):
    loader.result = (4, {"s"}, {"s", "a", "b"})
    executor.create_and_activate("inst", ARGS)
    clock.value = T0 + timedelta(seconds=5)
    metadata = executor.get_comprehensive_metadata("inst")
    assert metadata == zt.TemplateMetadata(
        "inst", executor.template_source_id, template_text, ARGS, RENDERED, T0, 4, 3, 1, None, {"cond", "action"},
        "valid", T0 + timedelta(seconds=5))
    assert metadata.template_parameters is executor.get_active_info("inst").template_parameters
    metadata.template_variables.add("x")
    assert executor.get_template_variables() == {"cond", "action"}


@pytest.mark.parametrize("parameters, status", [
    (None, "valid"),
    ({}, "valid"),
    ({"cond": 1}, "invalid"),
    ({"cond": 1, "action": None, "extra": 2}, "valid"),
])
def test_validation_status_and_parameters(executor, parameters, status):
    executor.activate("inst", "text", template_parameters=parameters)
    metadata = executor.get_comprehensive_metadata("inst")
    debug = executor.get_template_debug_info("inst")
    assert metadata.validation_status == debug.validation_status == status
    assert metadata.template_parameters == debug.template_parameters == (parameters or {})
    assert type(metadata.template_parameters) is dict


def test_validation_goes_through_the_method_of_self(executor):
    executor.activate("inst", "text", template_parameters={"cond": 1, "action": 2})
    with mock.patch.object(Executor, "validate_template_args", lambda self, args: [0, {"cond"}]):
        assert executor.get_comprehensive_metadata("inst").validation_status == "invalid"
        assert executor.get_template_debug_info("inst").validation_status == "invalid"


def test_validation_result_must_be_a_pair(executor):
    executor.activate("inst", "text", template_parameters={"cond": 1})
    with mock.patch.object(Executor, "validate_template_args", lambda self, args: (True,)):
        with pytest.raises(ValueError, match="not enough values to unpack"):
            executor.get_comprehensive_metadata("inst")


def test_record_fields_fall_back_to_the_executor(executor, template_text):
    executor.activate("inst", "text")
    for source_id, raw in [(None, None), ("", "")]:
        executor._active_templates["inst"] = zt.ActiveTemplate(
            "inst", "text", 1, set(), {"a"}, T0, raw_template=raw, template_source_id=source_id)
        metadata = executor.get_comprehensive_metadata("inst")
        assert (metadata.template_source_id, metadata.raw_template) == (executor.template_source_id, template_text)
    executor._active_templates["inst"] = zt.ActiveTemplate(
        "inst", "text", 1, set(), {"a"}, T0, raw_template="own", template_source_id="own:id")
    metadata = executor.get_comprehensive_metadata("inst")
    assert (metadata.template_source_id, metadata.raw_template) == ("own:id", "own")
    assert executor.get_template_debug_info("inst").template_source_id == executor.template_source_id


def test_performance_summary_and_event_counts(executor):
    executor.state_update("inst", {"profit": 3.0, "win": True, "ts": T0})  # before activation: counts too
    executor.activate("inst", "text")
    assert executor.get_comprehensive_metadata("inst").performance_summary == executor.score_summary("inst")
    debug = executor.get_template_debug_info("inst")
    assert (debug.performance_events_count, debug.has_performance_data) == (1, True)


def test_without_events(executor):
    executor.activate("inst", "text")
    executor._performance_events["inst"] = []
    assert executor.get_comprehensive_metadata("inst").performance_summary is None
    debug = executor.get_template_debug_info("inst")
    assert (debug.performance_events_count, debug.has_performance_data) == (0, False)


def test_summary_goes_through_the_method_of_self(executor):
    executor.activate("inst", "text")
    executor.state_update("inst", {"profit": 1.0, "win": True})
    with mock.patch.object(Executor, "score_summary", lambda self, name: ("summary of", name)):
        assert executor.get_comprehensive_metadata("inst").performance_summary == ("summary of", "inst")


def test_inactive_names_are_not_described(executor):
    executor.state_update("gone", {"profit": 1.0, "win": True})
    executor.activate("gone", "text")
    executor.deactivate("gone")
    assert executor.get_comprehensive_metadata("gone") is None
    assert executor.get_template_debug_info("gone") is None
    assert executor.get_all_active_metadata() == {}


def test_all_active_metadata_in_activation_order(executor, clock):
    for i, name in enumerate(["b", "a", "c"]):
        clock.value = T0 + timedelta(minutes=i)
        executor.activate(name, name)
    executor.deactivate("a")
    executor.activate("a", "a")
    everything = executor.get_all_active_metadata()
    assert list(everything) == ["b", "c", "a"]
    assert everything == {name: executor.get_comprehensive_metadata(name) for name in ["b", "c", "a"]}


def test_all_active_metadata_follows_list_active(executor, clock):
    for name in "ab":
        executor.activate(name, name)
    with mock.patch.object(Executor, "list_active", lambda self: ("b", "zzz")):
        assert executor.get_all_active_metadata() == {"b": executor.get_comprehensive_metadata("b"), "zzz": None}


def test_debug_info(executor, loader, clock, template_text):
    loader.result = (3, {"s"}, {"s", "x", "y"})
    clock.value = datetime(2024, 5, 1, 9, 30, 0)
    executor.create_and_activate("inst", ARGS)
    executor.state_update("inst", {"profit": 1.0, "win": True})
    executor.state_update("inst", {"profit": 2.0, "win": True})
    clock.value = datetime(2024, 5, 1, 9, 31, 1, 500000)
    debug = executor.get_template_debug_info("inst")
    assert sorted(debug.template_variables) == ["action", "cond"] and type(debug.template_variables) is list
    assert debug == zt.TemplateDebugInfo(
        "inst", executor.template_source_id, debug.template_variables, "valid", "2024-05-01T09:30:00", 61.5, 3, 1,
        2, True, ARGS, len(RENDERED), len(template_text))


@pytest.mark.parametrize("activated, text", [
    (datetime(2024, 5, 1, 9, 30, 0), "2024-05-01T09:30:00"),
    (datetime(2024, 5, 1, 9, 30, 0, 123), "2024-05-01T09:30:00.000123"),
    (datetime(999, 1, 2, 23, 59, 59, 999999), "0999-01-02T23:59:59.999999"),
])
def test_activation_time_as_iso_text(executor, clock, activated, text):
    clock.value = activated
    executor.activate("inst", "text")
    assert executor.get_template_debug_info("inst").activated_at == text


def test_runtime_seconds_follow_the_clock(executor, clock):
    executor.activate("inst", "text")
    clock.value = T0 + timedelta(seconds=10)
    first = executor.get_template_debug_info("inst").runtime_seconds
    clock.value = T0 + timedelta(seconds=11)
    second = executor.get_template_debug_info("inst").runtime_seconds
    assert (first, second) == (10.0, 11.0)


def test_lengths_count_code_points(fake_runtime, loader):
    executor = Executor.from_string(fake_runtime, "é{{ x }}€")
    executor._dsl_loader = loader
    executor.activate("inst", "ü😀")
    debug = executor.get_template_debug_info("inst")
    assert (debug.rendered_dsl_length, debug.raw_template_length) == (2, 9)


def test_descriptions_change_nothing(executor):
    executor.activate("inst", "text", template_parameters={"cond": 1})
    executor.state_update("inst", {"profit": 1.0, "win": True})
    before = copy.copy(executor._active_templates), copy.copy(executor._performance_events["inst"])
    executor.get_comprehensive_metadata("inst")
    executor.get_template_debug_info("inst")
    executor.get_all_active_metadata()
    assert (executor._active_templates, executor._performance_events["inst"]) == before
    assert executor.get_active_info("inst").template_parameters == {"cond": 1}


def test_summary_error_passes_out(executor):
    executor.activate("inst", "text")
    executor.state_update("inst", {"profit": 1.0, "win": True, "ts": "x"})
    executor.state_update("inst", {"profit": 1.0, "win": True, "ts": T0})
    with pytest.raises(TypeError):
        executor.get_comprehensive_metadata("inst")


def test_name_must_be_text(executor):
    with pytest.raises(TypeError, match=r"Argument 'name' has incorrect type \(expected str, got int\)"):
        executor.get_template_debug_info(1)
