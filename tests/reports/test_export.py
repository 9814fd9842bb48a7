import datetime as dt

import pytest

import brevant.zezuvo_templates as zt


def test_empty_manager(manager, clock_at):
    with clock_at(dt.datetime(2025, 3, 14, 9, 30)):
        export = manager.export_template_configurations()
    assert export == zt.TemplateConfigurationExport(
        export_timestamp="2025-03-14T09:30:00", system_info=zt.SystemInfo(0, 0), templates={}, instances={}
    )


def test_templates_and_instances(manager, activate, idle_template, clock_at):
    activate("idle", content=idle_template)
    with clock_at(dt.datetime(2025, 3, 14, 14, 5)):
        activate("algo", "a")
    with clock_at(dt.datetime(2025, 3, 14, 14, 5, 7, 250)):
        activate("algo", "mnq.fast")
    manager["algo"].create_and_activate("fast", {"symbol": "ES", "level": 1})

    export = manager.export_template_configurations()
    assert export.system_info == zt.SystemInfo(total_templates=2, total_active_instances=3)
    assert list(export.templates) == ["idle", "algo"]
    idle = export.templates["idle"]
    assert idle == zt.TemplateDefinition(manager["idle"].template_source_id, [], idle_template)
    assert sorted(export.templates["algo"].template_variables) == ["level", "symbol"]

    assert list(export.instances) == ["algo.a", "algo.mnq.fast", "fast"]
    assert [c.template_name for c in export.instances.values()] == ["algo", "algo", "fast"]
    first = export.instances["algo.a"]
    assert first.activated_at == "2025-03-14T14:05:00"
    assert export.instances["algo.mnq.fast"].activated_at == "2025-03-14T14:05:07.000250"
    meta = manager.get_template_instance_metadata("algo", "a")
    assert first.rendered_dsl == meta.rendered_dsl == 'entry_MNQ = "if price > 10: buy"'
    assert (first.predicate_count, first.start_predicate_count) == (meta.predicate_count, meta.start_predicate_count)
    # The very map the instance was activated with, not a copy.
    assert first.template_parameters is manager["algo"]._active_templates["algo.a"].template_parameters


@pytest.mark.parametrize(
    "args, kwargs, included",
    [
        ((), {}, True),
        ((True,), {}, True),
        ((), {"include_performance": "yes"}, True),
        ((False,), {}, False),
        ((0,), {}, False),
        ((), {"include_performance": None}, False),
    ],
)
def test_performance_extract(manager, activate, trade, args, kwargs, included):
    activate("algo", "busy", "quiet")
    trade("algo", "busy", 150.0, -25.0)
    instances = manager.export_template_configurations(*args, **kwargs).instances
    assert instances["algo.quiet"].performance is None
    summary = manager.get_performance_summary("algo", "busy")
    expected = zt.ExportPerformanceData(
        total_events=summary.total_events,
        total_profit=summary.total_profit,
        win_rate=summary.win_rate,
        current_streak=summary.current_streak,
        streak_type=summary.streak_type,
    )
    assert instances["algo.busy"].performance == (expected if included else None)
    if included:
        assert expected == zt.ExportPerformanceData(2, 125.0, 0.5, 1, "loss")


def test_export_is_detached_from_later_changes(manager, activate, trade):
    activate("algo", "a")
    export = manager.export_template_configurations()
    activate("algo", "b")
    trade("algo", "a", 5.0)
    assert list(export.instances) == ["algo.a"]
    assert export.instances["algo.a"].performance is None
    assert export.system_info.total_active_instances == 1


def test_argument_errors(manager):
    with pytest.raises(TypeError, match=r"takes at most 2 positional arguments \(3 given\)"):
        manager.export_template_configurations(True, True)
    with pytest.raises(TypeError, match="unexpected keyword argument 'include'"):
        manager.export_template_configurations(include=True)
