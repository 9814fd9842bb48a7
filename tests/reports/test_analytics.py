import dataclasses

import pytest

import brevant.zezuvo_templates as zt


@pytest.mark.parametrize("with_idle_instance", [False, True])
def test_no_performance_data(manager, activate, with_idle_instance):
    activate("algo", *(["a"] if with_idle_instance else []))
    analytics = manager.get_performance_analytics()
    assert analytics == zt.PerformanceAnalytics(
        system_metrics=zt.SystemMetrics(0, 0, 0, 0, 0),
        best_instance=None,
        worst_instance=None,
        best_template=None,
        template_performance={},
        all_performance_data=[],
    )
    # Without data every figure is the integer 0, the profit total and win rate included.
    assert [type(v) for v in dataclasses.astuple(analytics.system_metrics)] == [int] * 5


def test_system_metrics_types_with_data(manager, activate, trade):
    activate("algo", "a")
    trade("algo", "a", 0.0, wins=[False])
    metrics = manager.get_performance_analytics().system_metrics
    assert [type(v) for v in dataclasses.astuple(metrics)] == [float, int, int, float, int]
    assert (metrics.total_profit, metrics.system_win_rate) == (0.0, 0.0)


def test_instances_without_events_take_no_part(manager, activate, trade):
    activate("algo", "quiet", "busy")
    activate("idle", "x")
    trade("algo", "busy", 20.0, -5.0, 1.0, wins=[True, False, True])
    analytics = manager.get_performance_analytics()
    assert analytics.all_performance_data == [
        zt.InstancePerformanceData(
            instance_name="algo.busy", template_name="algo", total_profit=16.0, win_rate=2 / 3, total_events=3,
            current_streak=1,
        )
    ]
    assert list(analytics.template_performance) == ["algo"]
    assert analytics.template_performance["algo"] == zt.TemplatePerformanceAggregate(16.0, 3, 2, 1)
    # One instance: best and worst are that very entry, and its template is the best.
    entry = analytics.all_performance_data[0]
    assert analytics.best_instance is entry and analytics.worst_instance is entry
    assert analytics.best_template[0] == "algo"
    assert analytics.best_template[1] is analytics.template_performance["algo"]
    assert analytics.system_metrics.active_instances_with_data == 1


@pytest.mark.parametrize(
    "profits, best",
    [
        ({"A": [100.0, 0.0], "B": [60.0]}, "B"),  # by average per instance, not by total
        ({"A": [100.0, 0.0], "B": [50.0]}, "A"),  # equal averages: the first template wins
        ({"A": [-10.0], "B": [-4.0, -8.0]}, "B"),
    ],
)
def test_best_template_by_average(manager, activate, trade, profits, best):
    for template, values in profits.items():
        for i, profit in enumerate(values):
            activate(template, f"i{i}")
            trade(template, f"i{i}", profit)
    analytics = manager.get_performance_analytics()
    assert analytics.best_template[0] == best
    assert analytics.best_template[1] is analytics.template_performance[best]
    assert list(analytics.template_performance) == list(profits)


def test_best_and_worst_instance_first_of_equals_wins(manager, activate, trade):
    for name, profit in [("a", 7.0), ("b", 3.0), ("c", 7.0), ("d", 3.0)]:
        activate("algo", name)
        trade("algo", name, profit)
    analytics = manager.get_performance_analytics()
    data = analytics.all_performance_data
    assert [d.instance_name for d in data] == ["algo.a", "algo.b", "algo.c", "algo.d"]
    assert analytics.best_instance is data[0]
    assert analytics.worst_instance is data[1]


def test_wins_over_templates(manager, activate, trade):
    activate("X", "x")
    activate("Y", "y")
    trade("X", "x", *[1.0] * 10, wins=[True] * 7 + [False] * 3)
    trade("Y", "y", *[1.0] * 49, wins=[True] + [False] * 48)
    analytics = manager.get_performance_analytics()
    metrics = analytics.system_metrics
    assert (metrics.total_events, metrics.total_wins) == (59, 8)
    assert metrics.system_win_rate == 8 / 59
    assert analytics.template_performance["X"].total_wins == 7
    assert analytics.template_performance["Y"].total_wins == 1
    assert analytics.all_performance_data[0].win_rate == 0.7


def test_system_total_is_compensated_while_aggregates_add_plainly(manager, activate, trade):
    for i in range(10):
        activate("algo", f"i{i}")
        trade("algo", f"i{i}", 0.1)
    analytics = manager.get_performance_analytics()
    assert analytics.system_metrics.total_profit == 1.0
    assert analytics.template_performance["algo"].total_profit == 0.9999999999999999
    assert analytics.template_performance["algo"].instances == 10


def test_names_aggregate_under_their_first_dot(manager, activate, trade):
    activate("algo", "mnq.fast", "es")
    manager["algo"].create_and_activate("plain", {"symbol": "ES", "level": 1})
    trade("algo", "mnq.fast", 4.0)
    trade("algo", "es", 6.0)
    manager["algo"].state_update("plain", {"profit": 1.0, "win": True})
    analytics = manager.get_performance_analytics()
    assert [d.template_name for d in analytics.all_performance_data] == ["algo", "algo", "plain"]
    assert analytics.template_performance["algo"] == zt.TemplatePerformanceAggregate(10.0, 2, 2, 2)
    assert analytics.template_performance["plain"].instances == 1
    assert analytics.best_template[0] == "algo"


def test_integer_totals_beyond_machine_integers(snapshot_manager):
    analytics = snapshot_manager(events=2**62, wins=2**61, count=4).get_performance_analytics()
    assert analytics.system_metrics.total_events == 2**64
    assert analytics.system_metrics.total_wins == 2**63
    assert analytics.system_metrics.system_win_rate == 0.5
    assert analytics.template_performance["big"] == zt.TemplatePerformanceAggregate(4.0, 2**64, 2**63, 4)
