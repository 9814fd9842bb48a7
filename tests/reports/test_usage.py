import pytest


def test_no_active_instances(manager, activate):
    activate("algo")
    activate("breakout")
    stats = manager.get_template_usage_statistics()
    assert stats.total_instances == 0 and stats.total_templates == 2
    assert stats.template_usage_counts == {}
    assert stats.most_used_template is None and stats.least_used_template is None
    assert stats.avg_instances_per_template == 0
    assert type(stats.avg_instances_per_template) is int
    assert stats.unused_templates == ["algo", "breakout"]


def test_empty_manager(manager):
    stats = manager.get_template_usage_statistics()
    assert (stats.total_instances, stats.total_templates, stats.unused_templates) == (0, 0, [])


def test_most_least_and_unused_with_first_wins_ties(manager, activate):
    activate("A", "a1", "a2", "a3")
    activate("B", "b1")
    activate("C", "c1", "c2", "c3")
    activate("D")
    stats = manager.get_template_usage_statistics()
    assert list(stats.template_usage_counts.items()) == [("A", 3), ("B", 1), ("C", 3)]
    assert stats.most_used_template == ("A", 3)
    assert stats.least_used_template == ("B", 1)
    assert stats.avg_instances_per_template == 7 / 3
    assert stats.unused_templates == ["D"]
    assert (stats.total_templates, stats.total_instances) == (4, 7)


def test_single_used_template_is_most_and_least(manager, activate):
    activate("algo", "a", "b")
    stats = manager.get_template_usage_statistics()
    assert stats.most_used_template == stats.least_used_template == ("algo", 2)
    assert stats.avg_instances_per_template == 2.0
    assert type(stats.avg_instances_per_template) is float


@pytest.mark.parametrize(
    "template, instance, counted_under",
    [("algo", "mnq.fast", "algo"), ("algo.v2", "fast", "algo")],
)
def test_names_split_at_the_first_dot(manager, activate, template, instance, counted_under):
    activate(template, instance)
    stats = manager.get_template_usage_statistics()
    assert stats.template_usage_counts == {counted_under: 1}
    assert stats.unused_templates == ([] if template == counted_under else [template])


def test_instance_activated_directly_on_an_executor(manager, activate):
    activate("algo", "a")
    activate("solo")
    manager["solo"].create_and_activate("fast", {"symbol": "ES", "level": 1})
    stats = manager.get_template_usage_statistics()
    assert list(stats.template_usage_counts.items()) == [("algo", 1), ("fast", 1)]
    assert stats.unused_templates == ["solo"]
    assert stats.total_instances == 2
