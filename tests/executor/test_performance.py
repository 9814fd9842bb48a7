"""Recording performance events, reading them back and summarising them."""

import math
import random
import types
from datetime import datetime, timedelta, timezone
from decimal import Decimal
from fractions import Fraction

import pytest

import brevant.zezuvo_templates as zt

T0 = datetime(2024, 5, 1, 9, 30)


def record(executor, name, *events):
    """Records (profit, win, minutes after T0) events."""
    for profit, win, minutes in events:
        executor.state_update(name, {"profit": profit, "win": win, "ts": T0 + timedelta(minutes=minutes)})


def test_state_update_records_event(executor, clock):
    data = {"note": "a", "profit": 150.0, "win": True, "metadata": {"k": 1}, "z": None}
    assert executor.state_update("inst", data) is None
    (event,) = executor._performance_events["inst"]
    assert type(event) is zt.PerformanceEvent
    assert event == zt.PerformanceEvent(T0, 150.0, True, {"note": "a", "metadata": {"k": 1}, "z": None})
    data["note"] = "changed"
    assert event.metadata["note"] == "a"
    assert executor.score_get("inst") == [{"ts": T0, "profit": 150.0, "win": True, "note": "a",
                                           "metadata": {"k": 1}, "z": None}]
    assert list(executor.score_get("inst")[0]) == ["ts", "profit", "win", "note", "metadata", "z"]


def test_events_need_no_activation_and_stay_per_name(executor):
    executor.state_update("never-active", {"profit": 1, "win": False})
    executor.state_update("other", {"profit": 2, "win": True})
    assert [e["profit"] for e in executor.score_get("never-active")] == [1.0]
    assert executor.list_active() == []
    assert executor.score_get("nobody") == []


@pytest.mark.parametrize("ts", ["not a date", None, 17])
def test_given_ts_is_stored_unchecked(executor, ts):
    executor.state_update("inst", {"profit": 1.0, "win": True, "ts": ts})
    assert executor._performance_events["inst"][0].timestamp == ts
    assert executor.score_get("inst")[0]["ts"] == ts


def test_non_text_keys_are_kept_as_metadata_in_order(executor):
    executor.state_update("inst", {1: "one", "profit": 1.0, (2, 3): "pair", "win": False, "ts": T0, "n": 0})
    assert list(executor.score_get("inst")[0].items()) == [
        ("ts", T0), ("profit", 1.0), ("win", False), (1, "one"), ((2, 3), "pair"), ("n", 0)]


class Floaty:
    def __float__(self):
        return 2.25


class Indexy:
    def __index__(self):
        return 7


@pytest.mark.parametrize("given, stored", [
    (150.0, 150.0), (-25, -25.0), (True, 1.0), (False, 0.0), ("12.5", 12.5), (" -3.5\n", -3.5),
    ("1_000", 1000.0), (b"4.5", 4.5), (bytearray(b"6"), 6.0), ("inf", math.inf), ("-Infinity", -math.inf),
    (float("inf"), math.inf), (Fraction(1, 4), 0.25), (Decimal("2.5"), 2.5), (Floaty(), 2.25), (Indexy(), 7.0),
    (2**60 + 1, float(2**60)),
])
def test_profit_conversion(executor, given, stored):
    executor.state_update("inst", {"profit": given, "win": True})
    value = executor._performance_events["inst"][0].profit
    assert type(value) is float and value == stored


def test_profit_nan_text_is_accepted(executor):
    executor.state_update("inst", {"profit": "nan", "win": False})
    assert math.isnan(executor.score_get("inst")[0]["profit"])


class FloatFails:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


@pytest.mark.parametrize("data, message", [
    ({}, "Event data must contain 'profit' field"),
    ({"win": True}, "Event data must contain 'profit' field"),
    ({"profit": None, "win": True}, "Event data must contain 'profit' field"),
    ({"profit": "abc", "win": None}, "Event data must contain 'win' field"),
    ({"profit": 1.0}, "Event data must contain 'win' field"),
    ({"profit": "abc", "win": 1}, "Event data 'profit' must be a number, got str"),
    ({"profit": [1.0], "win": True}, "Event data 'profit' must be a number, got list"),
    ({"profit": b"x", "win": True}, "Event data 'profit' must be a number, got bytes"),
    ({"profit": 1j, "win": True}, "Event data 'profit' must be a number, got complex"),
    ({"profit": "", "win": True}, "Event data 'profit' must be a number, got str"),
    ({"profit": FloatFails(ValueError("no")), "win": True}, "Event data 'profit' must be a number, got FloatFails"),
    ({"profit": FloatFails(TypeError("no")), "win": True}, "Event data 'profit' must be a number, got FloatFails"),
    ({"profit": 1.0, "win": 1}, "Event data 'win' must be a boolean, got int"),
    ({"profit": 1.0, "win": 0}, "Event data 'win' must be a boolean, got int"),
    ({"profit": 1.0, "win": "yes"}, "Event data 'win' must be a boolean, got str"),
    ({"profit": 1.0, "win": 1.0}, "Event data 'win' must be a boolean, got float"),
])
def test_malformed_events_record_nothing(executor, data, message):
    with pytest.raises(ValueError) as info:
        executor.state_update("inst", data)
    assert str(info.value) == message
    assert "inst" not in executor._performance_events


def test_unconvertible_profit_keeps_the_conversion_error_as_context(executor):
    with pytest.raises(ValueError, match="got FloatFails") as info:
        executor.state_update("inst", {"profit": FloatFails(TypeError("inner")), "win": True})
    assert type(info.value.__context__) is TypeError and str(info.value.__context__) == "inner"


@pytest.mark.parametrize("profit, error", [
    (10**400, OverflowError),
    (FloatFails(KeyError("boom")), KeyError),
    (FloatFails(OverflowError("big")), OverflowError),
])
def test_other_conversion_errors_pass_out(executor, profit, error):
    with pytest.raises(error):
        executor.state_update("inst", {"profit": profit, "win": True})
    assert executor.score_get("inst") == []


def test_summary_of_two_events(executor):
    record(executor, "inst", (150.0, True, 0), (-25.0, False, 1))
    assert executor.score_summary("inst") == zt.PerformanceSummary(
        "inst", 2, 125.0, 1, 1, 0.5, 1, "loss", 60.0, T0, T0 + timedelta(minutes=1), 62.5)


@pytest.mark.parametrize("wins, streak, kind", [
    ([True], 1, "win"),
    ([True, True, True, False, False], 2, "loss"),
    ([True] * 5, 5, "win"),
    ([False] * 4, 4, "loss"),
    ([False, True, False, True, True, True], 3, "win"),
])
def test_streak(executor, wins, streak, kind):
    record(executor, "inst", *[(1.0, w, i) for i, w in enumerate(wins)])
    summary = executor.score_summary("inst")
    assert (summary.current_streak, summary.streak_type) == (streak, kind)
    assert (summary.win_count, summary.loss_count) == (sum(wins), len(wins) - sum(wins))
    assert summary.win_rate == sum(wins) / len(wins)


def test_single_event(executor):
    record(executor, "inst", (7.5, False, 3))
    summary = executor.score_summary("inst")
    assert (summary.current_streak, summary.streak_type, summary.runtime_seconds) == (1, "loss", 0.0)
    assert summary.first_event == summary.last_event == T0 + timedelta(minutes=3)


@pytest.mark.parametrize("active", [False, True])
def test_empty_summary(executor, active):
    if active:
        executor.activate("inst", "text")
    assert executor.score_summary("inst") == zt.PerformanceSummary(
        "inst", 0, 0.0, 0, 0, 0.0, 0, "none", 0.0, None, None, 0.0)
    executor._performance_events["inst"] = []
    assert executor.score_summary("inst").streak_type == "none"


def test_out_of_order_events_are_summarised_in_time_order(executor):
    # recorded: loss at +2, win at +0, win at +1 -> in time order: win, win, loss
    record(executor, "inst", (-1.0, False, 2), (5.0, True, 0), (3.0, True, 1))
    summary = executor.score_summary("inst")
    assert (summary.current_streak, summary.streak_type) == (1, "loss")
    assert (summary.first_event, summary.last_event) == (T0, T0 + timedelta(minutes=2))
    assert summary.runtime_seconds == 120.0
    assert [e["profit"] for e in executor.score_get("inst")] == [5.0, 3.0, -1.0]


def test_equal_timestamps_keep_recording_order(executor):
    stamps = [2, 1, 2, 1, 0, 2]
    for i, minutes in enumerate(stamps):
        executor.state_update("inst", {"profit": float(i), "win": i % 2 == 0, "ts": T0 + timedelta(minutes=minutes)})
    assert [e["profit"] for e in executor.score_get("inst")] == [4.0, 1.0, 3.0, 0.0, 2.0, 5.0]
    summary = executor.score_summary("inst")
    assert (summary.current_streak, summary.streak_type) == (1, "loss")  # event 5 is last


def test_many_shuffled_events_sort_stably(executor):
    rng = random.Random(7)
    stamps = [rng.randrange(20) for _ in range(300)]
    for i, minutes in enumerate(stamps):
        executor.state_update("inst", {"profit": 1.0, "win": True, "ts": T0 + timedelta(minutes=minutes), "i": i})
    expected = sorted(range(300), key=lambda i: stamps[i])
    assert [e["i"] for e in executor.score_get("inst")] == expected


def test_microseconds_in_runtime(executor):
    for ts in (T0, T0 + timedelta(seconds=1, microseconds=250)):
        executor.state_update("inst", {"profit": 1.0, "win": True, "ts": ts})
    assert executor.score_summary("inst").runtime_seconds == 1.00025


def test_aware_timestamps_compare_by_instant(executor):
    later_local = datetime(2024, 5, 1, 10, 0, tzinfo=timezone(timedelta(hours=2)))  # 08:00 UTC
    earlier_utc = datetime(2024, 5, 1, 9, 0, tzinfo=timezone.utc)
    executor.state_update("inst", {"profit": 1.0, "win": True, "ts": earlier_utc})
    executor.state_update("inst", {"profit": 2.0, "win": False, "ts": later_local})
    assert [e["profit"] for e in executor.score_get("inst")] == [2.0, 1.0]
    assert executor.score_summary("inst").runtime_seconds == 3600.0


@pytest.mark.parametrize("stamps", [[T0, "later"], [T0, None, T0]])
def test_incomparable_timestamps_raise_host_error(executor, stamps):
    for ts in stamps:
        executor.state_update("inst", {"profit": 1.0, "win": True, "ts": ts})
    with pytest.raises(TypeError, match="'<' not supported"):
        executor.score_get("inst")
    with pytest.raises(TypeError, match="'<' not supported"):
        executor.score_summary("inst")


def test_timestamps_that_cannot_be_subtracted(executor):
    executor.state_update("inst", {"profit": 1.0, "win": True, "ts": None})
    assert executor.score_get("inst")[0]["ts"] is None
    with pytest.raises(TypeError):
        executor.score_summary("inst")


@pytest.mark.parametrize("profits, total", [
    ([0.1] * 10, 1.0),
    ([1e16, 1.0, -1e16], 1.0),
    ([math.inf, 1.0, 2.0], math.inf),
    ([-1.0, "-inf", 5.0], -math.inf),
    ([1.7e308, 1.7e308], math.inf),
    ([-1.7e308, -1.7e308, 1.0], -math.inf),
    ([math.inf, -math.inf], math.nan),
    ([1.0, "nan"], math.nan),
])
def test_total_profit_is_compensated_and_keeps_infinities(executor, profits, total):
    record(executor, "inst", *[(p, True, i) for i, p in enumerate(profits)])
    summary = executor.score_summary("inst")
    if math.isnan(total):
        assert math.isnan(summary.total_profit) and math.isnan(summary.avg_profit_per_trade)
    else:
        assert summary.total_profit == total
        assert summary.avg_profit_per_trade == total / len(profits)


def test_total_is_summed_in_time_order(executor):
    # in recording order the sum would lose the 1.0 without compensation; in
    # time order it is what the compensated sum of the sorted values gives
    record(executor, "inst", (1.0, True, 1), (1e16, True, 0), (-1e16, True, 2))
    assert executor.score_summary("inst").total_profit == 1.0


def test_summary_reads_a_replaced_event_table(executor):
    foreign = types.SimpleNamespace(timestamp=T0 + timedelta(seconds=30), profit=4, win=1, metadata={"m": 1})
    executor._performance_events = {"inst": [zt.PerformanceEvent(T0, 2.0, False), foreign]}
    summary = executor.score_summary("inst")
    assert (summary.total_events, summary.total_profit, summary.win_count, summary.streak_type) == (2, 6.0, 1, "win")
    assert executor.score_get("inst")[1] == {"ts": foreign.timestamp, "profit": 4, "win": 1, "m": 1}
    executor.state_update("inst", {"profit": 1.0, "win": True})
    assert len(executor._performance_events["inst"]) == 3


class Chaotic:
    """A timestamp whose `<` is no ordering and that records more events while compared."""

    def __init__(self, executor, rng):
        self.executor, self.rng = executor, rng

    def __lt__(self, other):
        self.executor.state_update("inst", {"profit": 1.0, "win": True, "ts": Chaotic(self.executor, self.rng)})
        return self.rng.random() < 0.5

    def __sub__(self, other):
        return timedelta(0)


def test_inconsistent_comparisons_do_not_corrupt(executor):
    rng = random.Random(3)
    for i in range(40):
        executor.state_update("inst", {"profit": 1.0, "win": True, "ts": Chaotic(executor, rng), "i": i})
    got = executor.score_get("inst")
    assert sorted(e["i"] for e in got) == list(range(40))  # the snapshot, each event once
    recorded = len(executor._performance_events["inst"])
    assert recorded > 40
    summary = executor.score_summary("inst")
    assert summary.total_events == summary.win_count == recorded
    assert len(executor._performance_events["inst"]) > recorded
