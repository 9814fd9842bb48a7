"""The C++ fast paths of recording and summarising agree with the general paths.

A summary reads an exact list of exact PerformanceEvent records holding plain date-times, floats and bools
in place; anything else (a list subclass, a record subclass, other value types) goes through the general
path.  The same events are summarised both ways and must give the same record.
"""

import dataclasses
import math
import random
from datetime import datetime, timedelta, timezone
from unittest import mock

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brevant.zezuvo_templates as zt

T0 = datetime(2024, 5, 1, 9, 30)


class EventList(list):
    """A list subclass: its events take the general path."""


class Stamp(datetime):
    """A date-time subclass: an event holding one takes the general path."""


def summaries(executor, events):
    """(fast, general): the summary of `events` read as a plain list and as a list subclass."""
    executor._performance_events["fast"] = list(events)
    executor._performance_events["general"] = EventList(events)
    fast, general = executor.score_summary("fast"), executor.score_summary("general")
    general.name = "fast"
    return fast, general


FIELDS = [f.name for f in dataclasses.fields(zt.PerformanceSummary)]


def same(a, b):
    """Field-wise equality in which NaN equals NaN."""
    pairs = [(getattr(a, f), getattr(b, f)) for f in FIELDS]
    return all(x == y or (isinstance(x, float) and math.isnan(x) and math.isnan(y)) for x, y in pairs)


def events_of(rows):
    return [zt.PerformanceEvent(T0 + timedelta(microseconds=us), profit, win) for us, profit, win in rows]


rows = st.lists(
    st.tuples(st.integers(0, 10**12), st.floats(allow_nan=False, width=64), st.booleans()), min_size=1, max_size=60)


# summaries() replaces both lists on every call, so one executor serves every example.
@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(rows=rows, in_order=st.booleans())
def test_fast_and_general_summaries_agree(executor, rows, in_order):
    if in_order:
        rows = sorted(rows, key=lambda r: r[0])
    fast, general = summaries(executor, events_of(rows))
    assert same(fast, general)


@pytest.mark.parametrize("order", ["in order", "reversed", "shuffled", "equal times"])
@pytest.mark.parametrize("size", [1, 2, 17, 1000])
def test_orders_and_sizes(executor, order, size):
    rng = random.Random(size)
    rows = [(i * 1_000_003, rng.choice([0.1, -0.3, 1e16, -1e16, 2.5]), rng.random() < 0.6) for i in range(size)]
    if order == "reversed":
        rows.reverse()
    elif order == "shuffled":
        rng.shuffle(rows)
    elif order == "equal times":
        rows = [(us // 3_000_009 * 1_000_003, p, w) for us, p, w in rows]
    fast, general = summaries(executor, events_of(rows))
    assert same(fast, general)


@pytest.mark.parametrize("profits", [[math.inf, 1.0], [math.inf, -math.inf], [math.nan, 2.0], [1e308, 1e308, -1e308]])
def test_non_finite_totals_agree(executor, profits):
    fast, general = summaries(executor, events_of([(i, p, True) for i, p in enumerate(profits)]))
    assert same(fast, general)


@pytest.mark.parametrize("stamps", [
    # Fields that order as whole numbers only when packed most significant first.
    [datetime(2024, 1, 1, 0, 0, 0, 999_999), datetime(2023, 12, 31, 23, 59, 59, 1), datetime(2024, 1, 1)],
    [datetime(9999, 12, 31, 23, 59, 59, 999_999), datetime(1, 1, 1), datetime(1, 1, 1, 0, 0, 0, 256)],
    [datetime(2024, 3, 2), datetime(2024, 2, 29, 23), datetime(2024, 2, 29, 22, 59, 59, 999_999)],
    # The fold takes no part in comparing: equal times keep their recording order.
    [datetime(2024, 11, 3, 1, 30, fold=1), datetime(2024, 11, 3, 1, 30), datetime(2024, 11, 3, 1, 29)],
])
def test_time_order_matches_the_host(executor, stamps):
    events = [zt.PerformanceEvent(ts, float(i), i % 2 == 0) for i, ts in enumerate(stamps)]
    fast, general = summaries(executor, events)
    assert same(fast, general)
    ordered = sorted(events, key=lambda e: e.timestamp)
    assert (fast.first_event, fast.last_event) == (ordered[0].timestamp, ordered[-1].timestamp)
    assert fast.first_event is ordered[0].timestamp and fast.last_event is ordered[-1].timestamp


def subclassed_record(event):
    class Event(zt.PerformanceEvent):
        __slots__ = ()

    return Event(event.timestamp, event.profit, event.win, event.metadata)


@pytest.mark.parametrize("change", [
    pytest.param(lambda e: setattr(e, "timestamp", Stamp.combine(e.timestamp.date(), e.timestamp.time())), id="datetime subclass"),
    pytest.param(lambda e: setattr(e, "timestamp", e.timestamp.replace(tzinfo=timezone.utc)), id="aware"),
    pytest.param(lambda e: setattr(e, "profit", int(e.profit)), id="int profit"),
    pytest.param(lambda e: setattr(e, "win", int(e.win)), id="int win"),
    pytest.param(subclassed_record, id="record subclass"),
])
@pytest.mark.parametrize("where", [0, 5, 9])
def test_one_unusual_event_sends_all_to_the_general_path(executor, change, where):
    """Values that are equal but of other types: the summary is the one of the plain events."""
    rows = [(i * 7_000_000, float(i * 3 - 10), i % 3 != 0) for i in range(10)]
    rng = random.Random(where)
    rng.shuffle(rows)
    plain = events_of(rows)
    unusual = events_of(rows)
    replaced = change(unusual[where])
    if replaced is not None:
        unusual[where] = replaced
    if unusual[where].timestamp.tzinfo is not None:
        unusual = [zt.PerformanceEvent(e.timestamp.replace(tzinfo=timezone.utc), e.profit, e.win) for e in unusual]
    executor._performance_events["plain"] = plain
    executor._performance_events["unusual"] = unusual
    expected, got = executor.score_summary("plain"), executor.score_summary("unusual")
    assert [getattr(got, f) == getattr(expected, f) for f in FIELDS[1:9]] == [True] * 8
    assert got.avg_profit_per_trade == expected.avg_profit_per_trade


def test_unreadable_event_in_a_plain_list_fails_as_before(executor):
    events = events_of([(0, 1.0, True), (1, 2.0, False)])
    del events[1].profit
    executor._performance_events["x"] = events
    with pytest.raises(AttributeError):
        executor.score_summary("x")


# ---- recording -------------------------------------------------------------------


class Key(str):
    """A text subclass: equal to the reserved names, yet not the exact type."""


@pytest.mark.parametrize("data, metadata", [
    ({"profit": 1.0, "win": True, "ts": T0}, {}),
    ({"ts": T0, "win": True, "profit": 1.0, "a": 1}, {"a": 1}),
    ({Key("profit"): 1.0, "win": True, "ts": T0}, {}),
    ({"profit": 1.0, Key("win"): True, "ts": T0, Key("x"): 2}, {"x": 2}),
    ({"profit": 1.0, "win": True, "ts": T0, 3: "three", "tS": 4}, {3: "three", "tS": 4}),
    ({"profit": 1.0, "win": True, "ts": None}, {}),
])
def test_metadata_keeps_exactly_the_other_entries(executor, data, metadata):
    executor.state_update("n", data)
    (event,) = executor._performance_events["n"]
    assert event.metadata == metadata
    assert list(event.metadata) == list(metadata)


def test_metadata_is_read_after_a_patched_clock_ran(executor):
    """The timestamp is taken before the metadata: what a patched clock does to the data counts."""
    data = {"profit": 1.0, "win": True}

    class Clock(datetime):
        @classmethod
        def now(cls, tz=None):
            data.pop("profit")
            data["late"] = 1
            return T0

    with mock.patch("brevant.zezuvo_templates.datetime", Clock):
        executor.state_update("n", data)
    (event,) = executor._performance_events["n"]
    assert (event.timestamp, event.profit, event.metadata) == (T0, 1.0, {"late": 1})


ENTRY = 'entry_{{ symbol }} = "if price > {{ level }}: buy"\n'
Executor = zt.ZeZuvoRuntimeTemplateExecutor


@pytest.fixture
def manager(runtime):
    """A manager with two active instances of one template, each with one event."""
    manager = zt.ZeZuvoMultiTemplateManager(runtime)
    manager.from_string(ENTRY, "t")
    for n, instance in enumerate(["a", "b"]):
        manager.activate("t", instance, {"symbol": f"S{n}", "level": n})
        manager.state_update("t", instance, {"profit": 1.0 + n, "win": True, "ts": T0})
    return manager


def spying(cls, name, calls):
    """Patches cls.<name> with a wrapper that records the receiver's type and the arguments."""
    original = getattr(cls, name)

    def wrapper(self, *args):
        calls.append((type(self), args))
        return original(self, *args)

    return mock.patch.object(cls, name, wrapper)


OPERATIONS_CALLED_PER_INSTANCE = [
    ("get_comprehensive_metadata", ("t.a",)),
    ("score_summary", ("t.a",)),
    ("validate_template_args", ({"symbol": "S0", "level": 0},)),
]
REPORTS = [
    lambda m: m.get_all_active_templates_comprehensive(),
    lambda m: m.get_system_health_report(),
    lambda m: m.get_performance_analytics(),
]


@pytest.mark.parametrize("report", REPORTS)
@pytest.mark.parametrize(("operation", "first_args"), OPERATIONS_CALLED_PER_INSTANCE)
def test_patched_class_attributes_are_called_per_instance(manager, report, operation, first_args):
    calls = []
    with spying(Executor, operation, calls):
        report(manager)
    assert len(calls) == 2
    assert calls[0] == (Executor, first_args)
    calls.clear()
    report(manager)  # unpatched again: the original method, nothing recorded
    assert calls == []


@pytest.mark.parametrize("report", REPORTS)
def test_patched_all_active_metadata_is_called_per_executor(manager, report):
    calls = []
    with spying(Executor, "get_all_active_metadata", calls):
        report(manager)
    assert calls == [(Executor, ())]


@pytest.mark.parametrize(("operation", "first_args"), OPERATIONS_CALLED_PER_INSTANCE)
def test_patched_operations_are_called_from_get_all_active_metadata(manager, operation, first_args):
    executor = manager._executors["t"]
    calls = []
    with spying(Executor, operation, calls):
        executor.get_all_active_metadata()
    assert [args for _, args in calls[:1]] == [first_args] and len(calls) == 2


def test_a_subclass_override_is_called(manager):
    executor = manager._executors["t"]
    seen = []

    class Sub(Executor):
        def score_summary(self, name):
            seen.append(name)
            return "summary of " + name

        def validate_template_args(self, args):
            seen.append(tuple(args))
            return (False, ["x"])

    sub = Sub.from_string(manager.zezuvo_runtime, ENTRY)
    sub._active_templates.update(executor._active_templates)
    sub._performance_events.update(executor._performance_events)
    report = sub.get_all_active_metadata()
    assert seen == ["t.a", ("symbol", "level"), "t.b", ("symbol", "level")]
    assert [(m.performance_summary, m.validation_status) for m in report.values()] == [
        ("summary of t.a", "invalid"), ("summary of t.b", "invalid")]


def test_a_deleted_class_attribute_is_not_called(executor):
    executor._active_templates["n"] = None  # not consulted: list_active is gone first
    with mock.patch.object(Executor, "list_active", None):
        with pytest.raises(TypeError, match="'NoneType' object is not callable"):
            executor.get_all_active_metadata()


def test_unpatched_clock_stays_right_across_a_second_boundary(executor):
    """Recorded timestamps lie between the host's readings before and after, also when the second changes."""
    start = datetime.now()
    seconds_seen = set()
    while len(seconds_seen) < 2 and datetime.now() - start < timedelta(seconds=3):
        before = datetime.now()
        executor.state_update("n", {"profit": 1.0, "win": True})
        after = datetime.now()
        stamp = executor._performance_events["n"][-1].timestamp
        assert before <= stamp <= after
        seconds_seen.add(stamp.replace(microsecond=0))
    assert len(seconds_seen) == 2


@pytest.mark.parametrize("seed", range(5))
def test_top_performers_match_a_stable_sort_of_all(runtime, seed):
    """The five shown are the first five of a stable sort by profit, highest first, NaN last."""
    rng = random.Random(seed)
    manager = zt.ZeZuvoMultiTemplateManager(runtime)
    manager.from_string(ENTRY, "t")
    profits = {}
    for n in range(40):
        manager.activate("t", f"i{n}", {"symbol": f"S{n}", "level": n})
        profit = rng.choice([5.0, 5.0, 1.0, -2.0, math.inf, -math.inf, math.nan, 0.5 * n])
        manager.state_update("t", f"i{n}", {"profit": profit, "win": True, "ts": T0})
        profits[f"t.i{n}"] = profit
    expected = sorted(profits.items(), key=lambda item: (math.isnan(item[1]), -item[1] if not math.isnan(item[1]) else 0))
    top = manager.get_system_health_report().top_performers
    assert [name for name, _ in top] == [name for name, _ in expected[:5]]
