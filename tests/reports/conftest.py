import datetime as dt
from unittest import mock

import pytest

import brevant.zezuvo_templates as zt

# A small template with two variables whose rendering the runtime's loader accepts.
ENTRY = 'entry_{{ symbol }} = "if price > {{ level }}: buy"\n'
IDLE = 'idle = "if a: b"\n'
ARGS = {"symbol": "MNQ", "level": 10}


@pytest.fixture
def manager(runtime):
    return zt.ZeZuvoMultiTemplateManager(runtime)


@pytest.fixture
def idle_template():
    """Template text without variables."""
    return IDLE


@pytest.fixture
def activate(manager):
    """activate(template, *instances): registers the template on first use, then activates each instance."""

    def activate(template, *instances, content=ENTRY):
        if template not in manager:
            manager.from_string(content, template)
        for instance in instances:
            manager.activate(template, instance, dict(ARGS))

    return activate


@pytest.fixture
def trade(manager):
    """trade(template, instance, *profits, wins=None): one event per profit; a profit above 0 is a win."""

    def trade(template, instance, *profits, wins=None):
        for i, profit in enumerate(profits):
            win = profit > 0 if wins is None else wins[i]
            manager.state_update(template, instance, {"profit": profit, "win": win})

    return trade


@pytest.fixture
def clock_at():
    """clock_at(moment): a context in which the module's clock reads `moment`."""

    def clock_at(moment):
        class Frozen(dt.datetime):
            @classmethod
            def now(cls, tz=None):
                return moment

        return mock.patch("brevant.zezuvo_templates.datetime", Frozen)

    return clock_at


@pytest.fixture
def snapshot_manager(runtime):
    """snapshot_manager(events, wins, count): a manager subclass whose metadata map holds `count` instances of
    template "big", each with a summary of `events` events, `wins` wins and a profit of 1.0."""

    def snapshot_manager(events, wins, count):
        def metadata(name):
            summary = zt.PerformanceSummary(
                name, events, 1.0, wins, events - wins, wins / events, 1, "win", 0.0, None, None, 1.0 / events
            )
            return zt.TemplateMetadata(name, "string:0", "", {}, "", dt.datetime(2025, 1, 1), 0, 0, 0, summary)

        snapshot = {f"big.i{i}": metadata(f"big.i{i}") for i in range(count)}

        class SnapshotManager(zt.ZeZuvoMultiTemplateManager):
            def get_all_active_templates_comprehensive(self):
                return snapshot

        return SnapshotManager(runtime)

    return snapshot_manager
