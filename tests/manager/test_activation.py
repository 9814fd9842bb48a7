"""Instances activated, deactivated, listed and summarised through the manager."""

import pytest

import brevant.zezuvo_templates as zt

from .conftest import ARGS, RULES

DSL = 'lone = "if /NQM5 { A.stopped is True }: say hi"\n'


@pytest.fixture
def two(rules):
    """Templates "rules" and "other" (registered in that order), both from RULES."""
    rules.from_string(RULES, "other")
    return rules


@pytest.mark.parametrize("instance", ["mnq_fast", "", "mnq.fast.v2"])
def test_full_instance_name(rules, instance):
    full = f"rules.{instance}"
    created, start_ids, all_ids = rules.activate("rules", instance, ARGS)
    assert rules.list_all_active() == [full]
    assert rules["rules"].get_active_info(full).name == full
    # Reports split a full name back at its first ".".
    assert full.split(".", 1) == ["rules", instance]
    assert rules.deactivate("rules", instance) is True
    assert rules.list_all_active() == []


def test_activate_returns_what_the_executor_loaded(rules, runtime):
    created, start_ids, all_ids = rules.activate("rules", "a", ARGS)
    assert (created, len(start_ids), len(all_ids)) == (3, 1, 3)
    assert start_ids <= all_ids and all_ids == set(runtime.predicates())
    info = rules["rules"].get_active_info("rules.a")
    assert info.template_parameters == ARGS
    assert info.dsl_text == rules.preview_template("rules", ARGS)


def test_activate_from_populated_dsl_records_no_parameters(rules, runtime):
    created, start_ids, all_ids = rules.activate_from_populated_dsl("rules", "pre", DSL, enable=False)
    assert (created, start_ids, len(all_ids)) == (1, set(), 1)
    info = rules["rules"].get_active_info("rules.pre")
    assert info.template_parameters is None and info.dsl_text == DSL
    assert info.template_source_id == rules["rules"].template_source_id
    assert len(runtime) == 1


def test_listing_follows_registration_then_activation_order(two):
    two.activate("other", "x", ARGS)
    two.activate("rules", "b", ARGS)
    two.activate("rules", "a", ARGS)
    expected = ["rules.b", "rules.a", "other.x"]
    assert two.list_all_active() == expected
    assert two.list_active_for_template("rules") == ["rules.b", "rules.a"]
    summary = two.get_active_summary()
    assert list(summary) == expected
    assert all(type(s) is zt.ActiveTemplateSummary for s in summary.values())
    s = summary["other.x"]
    assert (s.created_count, s.predicate_count, s.start_predicate_count) == (3, 3, 1)


def test_merged_maps_keep_the_first_position_and_the_later_value(two):
    # Plain names given directly to two executors collide in the merged map.
    two["rules"].create_and_activate("same", ARGS)
    two["rules"].create_and_activate("only", ARGS)
    two["other"].create_and_activate("same", ARGS)
    summary = two.get_active_summary()
    assert list(summary) == ["same", "only"]
    assert summary["same"].activated_at == two["other"].get_active_info("same").activated_at
    assert two.list_all_active() == ["same", "only", "same"]


def test_duplicate_activation_fails_with_the_full_name(rules, runtime):
    rules.activate("rules", "a", ARGS)
    first = rules["rules"].get_active_info("rules.a")
    with pytest.raises(ValueError) as e:
        rules.activate("rules", "a", ARGS)
    assert str(e.value) == "Template 'rules.a' is already active"
    with pytest.raises(ValueError, match="Template 'rules.a' is already active"):
        rules.activate_from_populated_dsl("rules", "a", DSL)
    assert rules["rules"].get_active_info("rules.a") is first
    assert len(runtime) == 3


def test_same_instance_name_under_two_templates(two, runtime):
    two.activate("rules", "mnq", ARGS)
    two.activate("other", "mnq", ARGS)
    assert two.list_all_active() == ["rules.mnq", "other.mnq"]
    assert two.deactivate("rules", "mnq") is True
    assert two.list_all_active() == ["other.mnq"]
    assert len(runtime) == 3


def test_deactivate(two, runtime):
    two.activate("rules", "a", ARGS)
    assert two.deactivate("other", "a") is False
    assert two.deactivate("rules", "a") is True
    assert two.deactivate("rules", "a") is False
    assert two.deactivate("breakout", "a") is False
    assert len(runtime) == 0


def test_deactivate_template_and_all(two, runtime):
    two.activate("rules", "a", ARGS)
    two.activate("rules", "b", ARGS)
    two.activate("other", "c", ARGS)
    assert two.deactivate_template("rules") == 2
    assert two.deactivate_template("rules") == 0
    assert two.list_all_active() == ["other.c"]
    two.activate("rules", "a", ARGS)
    assert two.deactivate_all() == 2
    assert two.deactivate_all() == 0
    assert two.list_all_active() == [] and len(runtime) == 0


def test_instance_activated_directly_on_the_executor(rules):
    rules["rules"].create_and_activate("mnq_fast", ARGS)
    assert rules.list_all_active() == ["mnq_fast"]
    assert rules.deactivate("rules", "mnq_fast") is False
    assert rules.get_template_info("rules").active_instances == ["mnq_fast"]
    assert rules.deactivate_template("rules") == 1


def test_template_info(two):
    info = two.get_template_info("rules")
    assert info == zt.TemplateInfo("rules", two["rules"].template_source_id, info.template_variables, [], 0)
    assert type(info.template_variables) is list and sorted(info.template_variables) == ["prefix", "symbol"]
    two.activate("rules", "a", ARGS)
    two.activate("rules", "b", ARGS)
    info = two.get_template_info("rules")
    assert (info.active_instances, info.active_count) == (["rules.a", "rules.b"], 2)


@pytest.mark.parametrize("enable, passed", [((), True), ((0,), False), (("no",), True), ((None,), False)])
def test_activation_calls_of_the_executor(rules, spy, enable, passed):
    rendered = spy("create_and_activate")
    loaded = spy("activate")
    rules.activate("rules", "a", ARGS, *enable)
    rules.activate_from_populated_dsl("rules", "b", DSL, *enable)
    assert rendered == [(("rules.a", ARGS), {"enable": passed})]
    assert rendered[0][0][1] is ARGS
    assert loaded[-1] == (("rules.b", DSL), {"enable": passed})
    assert type(loaded[-1][1]["enable"]) is bool


def test_template_info_calls_of_the_executor(rules, spy):
    variables = spy("get_template_variables")
    listed = spy("list_active")
    rules.get_template_info("rules")
    assert (len(variables), len(listed)) == (1, 2)


def test_unregistered_template_activates_nothing(rules, runtime):
    message = ("Template 'breakout' not found. You must explicitly create it first using from_builtin(), "
               "from_file(), or from_string().")
    for call in (lambda: rules.activate("breakout", "a", ARGS),
                 lambda: rules.activate_from_populated_dsl("breakout", "a", DSL)):
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == message
    assert rules.list_all_active() == [] and len(runtime) == 0


def test_executor_errors_pass_through(rules, runtime):
    with pytest.raises(ValueError, match="Missing required template variables: {'symbol'}"):
        rules.activate("rules", "a", {"prefix": "p"})
    with pytest.raises(ValueError, match="line 1"):
        rules.activate_from_populated_dsl("rules", "a", "not a rule\n")
    assert rules.list_all_active() == [] and len(runtime) == 0


@pytest.mark.parametrize("call, parameter, expected, got", [
    (lambda m: m.activate("rules", "a", zt.PerformanceEvent), "template_args", "dict", "type"),
    (lambda m: m.activate("rules", 1, ARGS), "instance_name", "str", "int"),
    (lambda m: m.activate_from_populated_dsl("rules", "a", None), "dsl_text", "str", "NoneType"),
    (lambda m: m.deactivate("rules", None), "instance_name", "str", "NoneType"),
    (lambda m: m.deactivate_template(1.5), "template_name", "str", "float"),
    (lambda m: m.list_active_for_template(None), "template_name", "str", "NoneType"),
    (lambda m: m.get_template_info(b"rules"), "template_name", "str", "bytes"),
])
def test_wrong_argument_types(rules, call, parameter, expected, got):
    with pytest.raises(TypeError) as e:
        call(rules)
    assert str(e.value) == f"Argument '{parameter}' has incorrect type (expected {expected}, got {got})"


def test_dict_subclass_is_rejected_for_template_args(rules):
    class Args(dict):
        pass

    with pytest.raises(TypeError, match=r"expected dict, got Args"):
        rules.activate("rules", "a", Args(ARGS))


class Refusing:
    """A caller's own object in the registry whose deactivation fails."""

    def deactivate_all(self):
        raise RuntimeError("runtime unreachable")


def test_deactivate_all_stops_at_the_first_failure(two, runtime):
    two.activate("rules", "a", ARGS)
    two._executors["broken"] = Refusing()
    two.from_string(RULES, "last")
    two.activate("last", "z", ARGS)
    with pytest.raises(RuntimeError, match="runtime unreachable"):
        two.deactivate_all()
    assert two.list_active_for_template("rules") == []
    assert two.list_active_for_template("last") == ["last.z"]
    assert len(runtime) == 3


def test_template_lookups_go_through_get_executor(runtime):
    class CaseInsensitive(zt.ZeZuvoMultiTemplateManager):
        def _get_executor(self, template_name):
            return super()._get_executor(template_name.lower())

    manager = CaseInsensitive(runtime)
    manager.from_string(RULES, "rules")
    manager.activate("RULES", "a", ARGS)
    manager.activate_from_populated_dsl("Rules", "b", DSL)
    assert manager.preview_template("RULES", ARGS) == manager["rules"].populate_template(ARGS)
    assert manager.get_template_variables("RULES") == {"prefix", "symbol"}
    assert manager.list_all_active() == ["RULES.a", "Rules.b"]
    # Operations on one instance look the name up in the registry itself.
    assert manager.deactivate("RULES", "a") is False
    with pytest.raises(ValueError, match="Template 'RULES' not found$"):
        manager.state_update("RULES", "a", {"profit": 1.0, "win": True})
