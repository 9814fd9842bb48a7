import datetime as dt
import math
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt


def test_empty_manager(manager):
    report = manager.get_system_health_report()
    assert report.total_templates == report.total_active_instances == 0
    assert report.templates_with_instances == report.instances_with_performance == 0
    assert report.total_system_profit == 0 and report.total_system_events == 0
    assert report.top_performers == report.template_names == report.active_instance_names == []
    assert dt.datetime.fromisoformat(report.report_generated_at)


@pytest.mark.parametrize("profits, total", [
    ((), 0),  # a sum over no summary is the integer 0
    ((0.0,), 0.0),
    ((2.5, -1.0), 1.5),
])
def test_total_system_profit_type(manager, activate, trade, profits, total):
    activate("algo", "a")
    trade("algo", "a", *profits)
    report = manager.get_system_health_report()
    assert (type(report.total_system_profit), report.total_system_profit) == (type(total), total)
    assert type(report.total_system_events) is int


def test_counts_and_names(manager, activate, trade):
    activate("algo", "a", "b", "mnq.fast")
    activate("idle")
    activate("breakout", "x")
    manager["breakout"].create_and_activate("fast", {"symbol": "ES", "level": 1})
    trade("algo", "a", 150.0, -25.0)
    trade("breakout", "x", 10.0)

    report = manager.get_system_health_report()
    assert report.total_templates == 3
    assert report.template_names == ["algo", "idle", "breakout"]
    assert report.active_instance_names == ["algo.a", "algo.b", "algo.mnq.fast", "breakout.x", "fast"]
    assert report.total_active_instances == 5
    # algo.mnq.fast counts under "algo"; the plain name "fast" is a template part of its own.
    assert report.templates_with_instances == 3
    # Instances without events count only as active instances.
    assert report.instances_with_performance == 2
    assert report.total_system_profit == 135.0
    assert report.total_system_events == 3
    assert report.top_performers == [("algo.a", 125.0), ("breakout.x", 10.0)]


def test_top_performers_keep_five_best_with_stable_ties(manager, activate, trade):
    profits = {"t1.a": 5.0, "t1.b": 40.0, "t2.c": 5.0, "t2.d": -3.0, "t2.e": 40.0, "t3.f": 12.0, "t3.g": 5.0}
    for name, profit in profits.items():
        template, instance = name.split(".")
        activate(template, instance)
        trade(template, instance, profit)

    report = manager.get_system_health_report()
    # Equal profits stay in metadata order (registration, then activation).
    assert report.top_performers == [("t1.b", 40.0), ("t2.e", 40.0), ("t3.f", 12.0), ("t1.a", 5.0), ("t2.c", 5.0)]
    assert report.instances_with_performance == 7


def test_a_loss_is_listed_when_fewer_than_five_do_better(manager, activate, trade):
    activate("algo", "up", "down")
    trade("algo", "down", -30.0)
    trade("algo", "up", 10.0)
    assert manager.get_system_health_report().top_performers == [("algo.up", 10.0), ("algo.down", -30.0)]


def test_profit_total_is_compensated(manager, activate, trade):
    for i in range(10):
        activate("algo", f"i{i}")
        trade("algo", f"i{i}", 0.1)
    report = manager.get_system_health_report()
    assert report.total_system_profit == 1.0
    assert report.total_system_events == 10


@pytest.mark.parametrize(
    "profits, total",
    [([math.inf, 2.5, -1.0], math.inf), ([-1.0, -math.inf], -math.inf), ([math.inf, -math.inf], math.nan)],
)
def test_profit_total_with_infinities(manager, activate, trade, profits, total):
    for i, profit in enumerate(profits):
        activate("algo", f"i{i}")
        trade("algo", f"i{i}", profit)
    result = manager.get_system_health_report().total_system_profit
    assert result == total or (math.isnan(total) and math.isnan(result))


@pytest.mark.parametrize(
    "moment, text",
    [
        (dt.datetime(2025, 3, 14, 9, 30), "2025-03-14T09:30:00"),
        (dt.datetime(2025, 3, 14, 9, 30, 0, 1500), "2025-03-14T09:30:00.001500"),
    ],
)
def test_report_timestamp(manager, clock_at, moment, text):
    with clock_at(moment):
        assert manager.get_system_health_report().report_generated_at == text


def test_report_is_a_snapshot(manager, activate, trade):
    activate("algo", "a")
    report = manager.get_system_health_report()
    report.template_names.append("other")
    report.active_instance_names.clear()
    activate("algo", "b")
    trade("algo", "a", 5.0)
    assert manager.get_template_names() == ["algo"]
    assert report.total_active_instances == 1 and report.top_performers == []


@pytest.mark.parametrize(
    "report",
    [
        "get_system_health_report",
        "get_template_usage_statistics",
        "export_template_configurations",
        "get_performance_analytics",
    ],
)
def test_reports_fetch_the_metadata_map_once_through_the_method(manager, activate, report):
    activate("algo", "a")
    original = zt.ZeZuvoMultiTemplateManager.get_all_active_templates_comprehensive
    callers = []

    def fetch(self):
        callers.append(self)
        return original(self)

    with mock.patch.object(zt.ZeZuvoMultiTemplateManager, "get_all_active_templates_comprehensive", fetch):
        getattr(manager, report)()
    assert len(callers) == 1 and callers[0] is manager


@pytest.mark.parametrize(
    "report",
    [
        "get_system_health_report",
        "get_template_usage_statistics",
        "export_template_configurations",
        "get_performance_analytics",
    ],
)
def test_errors_while_gathering_metadata_propagate(manager, activate, report):
    activate("algo", "a")
    with mock.patch.object(
        zt.ZeZuvoMultiTemplateManager,
        "get_all_active_templates_comprehensive",
        side_effect=RuntimeError("gathering failed"),
    ):
        with pytest.raises(RuntimeError, match="gathering failed"):
            getattr(manager, report)()


def test_event_total_beyond_machine_integers(snapshot_manager):
    report = snapshot_manager(events=2**62, wins=1, count=4).get_system_health_report()
    assert report.total_system_events == 2**64
    assert report.instances_with_performance == 4
    assert report.total_system_profit == 4.0
