"""Delegated queries, the answers for unregistered templates, and the typical road through the manager."""

import sys
from datetime import datetime, timedelta

import pytest

import brevant.zezuvo_templates as zt

from .conftest import ARGS, RULES

LONG = ("Template 'breakout' not found. You must explicitly create it first using from_builtin(), from_file(), "
        "or from_string().")
SHORT = "Template 'breakout' not found"
EVENT = {"profit": 150.0, "win": True}

# Every operation that takes a template name, with its answer for a name that
# is not registered: an exception message, or the value returned.
UNREGISTERED = [
    ("state_update", ("breakout", "a", EVENT), ValueError(SHORT)),
    ("get_performance_summary", ("breakout", "a"), ValueError(SHORT)),
    ("get_performance_events", ("breakout", "a"), ValueError(SHORT)),
    ("get_template_variables", ("breakout",), ValueError(LONG)),
    ("validate_template_args", ("breakout", ARGS), ValueError(LONG)),
    ("preview_template", ("breakout", ARGS), ValueError(LONG)),
    ("activate", ("breakout", "a", ARGS), ValueError(LONG)),
    ("activate_from_populated_dsl", ("breakout", "a", "x = \"if a: b\""), ValueError(LONG)),
    ("_get_executor", ("breakout",), ValueError(LONG)),
    ("__getitem__", ("breakout",), ValueError(LONG + " Available templates: ['rules']")),
    ("get_template_instance_metadata", ("breakout", "a"), None),
    ("get_template_debug_info", ("breakout", "a"), None),
    ("get_template_info", ("breakout",), None),
    ("deactivate", ("breakout", "a"), False),
    ("deactivate_template", ("breakout",), 0),
    ("list_active_for_template", ("breakout",), []),
    ("remove_template", ("breakout",), False),
    ("__contains__", ("breakout",), False),
]


@pytest.mark.parametrize("operation, args, answer", UNREGISTERED, ids=[row[0] for row in UNREGISTERED])
def test_unregistered_template(rules, runtime, operation, args, answer):
    rules.activate("rules", "a", ARGS)
    method = getattr(rules, operation)
    if isinstance(answer, Exception):
        with pytest.raises(type(answer)) as e:
            method(*args)
        assert str(e.value) == str(answer)
    else:
        result = method(*args)
        assert result == answer and type(result) is type(answer)
    assert rules.get_template_names() == ["rules"]
    assert rules.list_all_active() == ["rules.a"] and len(runtime) == 3
    assert rules.get_performance_events("rules", "a") == []


def test_events_are_recorded_under_the_full_name(rules):
    assert rules.state_update("rules", "a", dict(EVENT, note="x")) is None
    executor = rules["rules"]
    assert [e["profit"] for e in executor.score_get("rules.a")] == [150.0]
    events = rules.get_performance_events("rules", "a")
    assert [(e["profit"], e["win"], e["note"]) for e in events] == [(150.0, True, "x")]
    summary = rules.get_performance_summary("rules", "a")
    assert (summary.name, summary.total_events, summary.total_profit) == ("rules.a", 1, 150.0)


def test_answers_for_instances_that_are_not_active(rules):
    summary = rules.get_performance_summary("rules", "never")
    assert (summary.name, summary.total_events, summary.streak_type) == ("rules.never", 0, "none")
    assert rules.get_performance_events("rules", "never") == []
    assert rules.get_template_instance_metadata("rules", "never") is None
    assert rules.get_template_debug_info("rules", "never") is None


def test_state_update_errors_pass_through_and_record_nothing(rules):
    with pytest.raises(ValueError, match="Event data must contain 'profit' field"):
        rules.state_update("rules", "a", {"win": True})
    with pytest.raises(TypeError, match=r"Argument 'event_data' has incorrect type \(expected dict, got list\)"):
        rules.state_update("rules", "a", [("profit", 1.0)])
    assert rules.get_performance_events("rules", "a") == []


def test_template_level_queries(rules, runtime):
    assert rules.get_template_variables("rules") == {"prefix", "symbol"}
    assert rules.validate_template_args("rules", {"prefix": "p", "extra": 1}) == (False, {"symbol"})
    assert rules.validate_template_args("rules", ARGS) == (True, set())
    text = rules.preview_template("rules", ARGS)
    assert text == rules["rules"].populate_template(ARGS) and "mnq_check" in text
    with pytest.raises(ValueError, match="Missing required template variables: {'symbol'}"):
        rules.preview_template("rules", {"prefix": "p"})
    assert rules.list_all_active() == [] and len(runtime) == 0


def test_performance_summaries_cover_active_instances_only(rules):
    rules.from_string(RULES, "other")
    rules.activate("other", "x", ARGS)
    rules.activate("rules", "a", ARGS)
    rules.activate("rules", "b", ARGS)
    rules.state_update("rules", "a", EVENT)
    rules.state_update("rules", "gone", EVENT)
    summaries = rules.get_all_performance_summaries()
    assert list(summaries) == ["rules.a", "rules.b", "other.x"]
    assert [s.total_events for s in summaries.values()] == [1, 0, 0]
    rules.deactivate("rules", "a")
    assert "rules.a" not in rules.get_all_performance_summaries()
    assert len(rules.get_performance_events("rules", "a")) == 1


def test_empty_manager_gives_empty_maps(manager):
    assert manager.get_all_performance_summaries() == {}
    assert manager.get_all_active_templates_comprehensive() == {}
    manager.from_string(RULES, "idle")
    assert manager.get_all_performance_summaries() == {}
    assert manager.get_all_active_templates_comprehensive() == {}


@pytest.mark.parametrize("operation", ["get_all_performance_summaries", "get_all_active_templates_comprehensive"])
def test_system_wide_queries_fail_whole(rules, operation):
    rules.activate("rules", "a", ARGS)
    rules.activate("rules", "b", ARGS)
    rules.state_update("rules", "b", dict(EVENT, ts=datetime(2025, 1, 2)))
    rules.state_update("rules", "b", dict(EVENT, ts="not a date"))
    with pytest.raises(TypeError):
        getattr(rules, operation)()


@pytest.mark.parametrize("operation, args, executor_call", [
    ("state_update", ("rules", "a", EVENT), ("state_update", ("rules.a", EVENT))),
    ("get_performance_summary", ("rules", "a"), ("score_summary", ("rules.a",))),
    ("get_performance_events", ("rules", "a"), ("score_get", ("rules.a",))),
    ("get_template_variables", ("rules",), ("get_template_variables", ())),
    ("validate_template_args", ("rules", ARGS), ("validate_template_args", (ARGS,))),
    ("preview_template", ("rules", ARGS), ("populate_template", (ARGS,))),
    ("get_template_instance_metadata", ("rules", "a"), ("get_comprehensive_metadata", ("rules.a",))),
    ("get_template_debug_info", ("rules", "a"), ("get_template_debug_info", ("rules.a",))),
    ("get_all_active_templates_comprehensive", (), ("get_all_active_metadata", ())),
])
def test_queries_delegate_by_position(rules, spy, operation, args, executor_call):
    rules.activate("rules", "a", ARGS)
    name, expected = executor_call
    calls = spy(name)
    getattr(rules, operation)(*args)
    assert calls == [(expected, {})]


class Reshaping:
    """A caller's own executor whose metadata call changes the registry while it is walked."""

    def __init__(self, manager):
        self.manager = manager

    def get_all_active_metadata(self):
        del self.manager._executors["rules"]
        self.manager.from_string("late", "late")
        return {"own": "metadata"}


def test_system_wide_walk_uses_a_snapshot_of_the_registry(rules):
    rules.activate("rules", "a", ARGS)
    registry = {"first": Reshaping(rules), "rules": rules["rules"]}
    rules._executors = registry
    metadata = rules.get_all_active_templates_comprehensive()
    assert list(metadata) == ["own", "rules.a"]
    assert list(registry) == ["first", "late"]


def test_typical_road(manager, runtime):
    executor = manager.from_builtin("algo_flipper.dsl")
    assert manager.get_template_names() == ["algo_flipper"]
    assert executor.template_source_id == "builtin:algo_flipper.dsl"
    args = zt.create_template_args_for_algo_flipper("MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1)

    before = datetime.now()
    created, start_ids, all_ids = manager.activate("algo_flipper", "mnq_fast", args)
    assert created == len(all_ids) == len(runtime) and start_ids <= all_ids
    assert manager.list_all_active() == ["algo_flipper.mnq_fast"]

    assert manager.state_update("algo_flipper", "mnq_fast", {"profit": 150.0, "win": True}) is None
    metadata = manager.get_all_active_templates_comprehensive()
    assert list(metadata) == ["algo_flipper.mnq_fast"]
    m = metadata["algo_flipper.mnq_fast"]
    assert type(m) is zt.TemplateMetadata
    assert (m.instance_name, m.template_source_id, m.template_parameters) == (
        "algo_flipper.mnq_fast", "builtin:algo_flipper.dsl", args)
    assert m.raw_template == zt.BUILTIN_TEMPLATES["algo_flipper.dsl"]
    assert m.rendered_dsl == manager.preview_template("algo_flipper", args)
    assert (m.created_count, m.predicate_count, m.start_predicate_count) == (created, len(all_ids), len(start_ids))
    assert before <= m.activated_at <= m.last_checked < before + timedelta(minutes=1)
    assert m.performance_summary.total_profit == 150.0 and m.performance_summary.name == "algo_flipper.mnq_fast"
    assert (m.template_variables, m.validation_status) == (executor.get_template_variables(), "valid")
    assert manager.get_template_instance_metadata("algo_flipper", "mnq_fast").rendered_dsl == m.rendered_dsl

    assert manager.deactivate("algo_flipper", "mnq_fast") is True
    assert len(runtime) == 0 and manager.get_all_active_templates_comprehensive() == {}


def test_manager_operations_leave_no_references_behind(manager, runtime, tmp_path):
    path = tmp_path / "t.dsl"
    path.write_text(RULES)
    name, instance = "".join(["ru", "les"]), "".join(["in", "st"])
    args, event = dict(ARGS), {"profit": 1.0, "win": False, "note": "n"}

    def failing(call):
        with pytest.raises((ValueError, TypeError)):
            call()

    def cycle():
        manager.from_string(RULES, name)
        manager.from_file(path, "file")
        manager.from_file(str(path), "file")
        assert name in manager and manager[name] is manager._get_executor(name)
        manager.activate(name, instance, args)
        manager.activate_from_populated_dsl("file", instance, "x = \"if a: b\"\n", enable=False)
        manager.state_update(name, instance, event)
        manager.get_performance_summary(name, instance)
        manager.get_performance_events(name, instance)
        manager.get_all_performance_summaries()
        manager.get_all_active_templates_comprehensive()
        manager.get_template_instance_metadata(name, instance)
        manager.get_template_debug_info(name, instance)
        manager.get_active_summary()
        manager.get_template_info(name)
        manager.list_all_active()
        manager.validate_template_args(name, args)
        manager.preview_template(name, args)
        for call in (lambda: manager.activate(name, instance, args), lambda: manager[instance],
                     lambda: manager.from_string("other", name), lambda: manager.from_file(path, name),
                     lambda: manager.from_builtin("simple_flipper.dsl", name), lambda: manager.state_update(
                         instance, name, event), lambda: manager.preview_template(name, {}), lambda: manager[5]):
            failing(call)
        assert manager.deactivate(name, instance) is True
        assert manager.deactivate_all() == 1
        assert manager.remove_template(name) is True

    cycle()
    watched = (name, instance, args, event, path, runtime, manager)
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(20):
        cycle()
    assert [sys.getrefcount(o) for o in watched] == before
