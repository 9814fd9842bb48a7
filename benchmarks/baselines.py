"""The measured operations written in plain Python, doing the same work.

Each function is what a careful Python developer would write for the job:
the same records (slots data classes, built with their constructors), the
same lookups and checks, compensated summation, a stable sort by timestamp.
They serve only as the yardstick of the benchmark suite.
"""

from __future__ import annotations

import dataclasses
import operator
from datetime import datetime
from typing import Any

RESERVED = frozenset(("profit", "win", "ts"))
by_time = operator.attrgetter("timestamp")


@dataclasses.dataclass(slots=True)
class PerformanceEvent:
    timestamp: datetime
    profit: float
    win: bool
    metadata: dict[str, Any] = dataclasses.field(default_factory=dict)


@dataclasses.dataclass(slots=True)
class PerformanceSummary:
    name: str
    total_events: int
    total_profit: float
    win_count: int
    loss_count: int
    win_rate: float
    current_streak: int
    streak_type: str
    runtime_seconds: float
    first_event: datetime | None
    last_event: datetime | None
    avg_profit_per_trade: float


def state_update(events_by_name: dict, name: str, event_data: dict) -> None:
    """Records one event: its fields read from the map and checked, the rest kept as metadata."""
    profit = event_data.get("profit")
    win = event_data.get("win")
    if profit is None:
        raise ValueError("Event data must contain 'profit' field")
    if win is None:
        raise ValueError("Event data must contain 'win' field")
    profit = float(profit)
    if not isinstance(win, bool):
        raise ValueError(f"Event data 'win' must be a boolean, got {type(win).__name__}")
    timestamp = event_data["ts"] if "ts" in event_data else datetime.now()
    metadata = {key: value for key, value in event_data.items() if key not in RESERVED}
    events = events_by_name.get(name)
    if events is None:
        events = events_by_name[name] = []
    events.append(PerformanceEvent(timestamp, profit, win, metadata))


def neumaier(values) -> float:
    total = 0.0
    compensation = 0.0
    for value in values:
        t = total + value
        if abs(total) >= abs(value):
            compensation += (total - t) + value
        else:
            compensation += (value - t) + total
        total = t
    return total + compensation


def score_summary(events: list, name: str) -> PerformanceSummary:
    """Sorted by timestamp, then one loop with Neumaier summation and the win count, then the streak."""
    if not events:
        return PerformanceSummary(name, 0, 0.0, 0, 0, 0.0, 0, "none", 0.0, None, None, 0.0)
    ordered = sorted(events, key=by_time)
    total = 0.0
    compensation = 0.0
    wins = 0
    for event in ordered:
        profit = event.profit
        t = total + profit
        if abs(total) >= abs(profit):
            compensation += (total - t) + profit
        else:
            compensation += (profit - t) + total
        total = t
        if event.win:
            wins += 1
    total += compensation
    last = ordered[-1].win
    streak = 0
    for event in reversed(ordered):
        if event.win != last:
            break
        streak += 1
    count = len(ordered)
    first_ts, last_ts = ordered[0].timestamp, ordered[-1].timestamp
    return PerformanceSummary(name, count, total, wins, count - wins, wins / count, streak,
                              "win" if last else "loss", (last_ts - first_ts).total_seconds(), first_ts, last_ts,
                              total / count)


def template_part(instance_name: str) -> str:
    return instance_name.split(".", 1)[0]


def health_figures(template_names: list, summaries: dict) -> dict:
    """The system health report's figures from per-instance summaries (name -> summary or None)."""
    with_data = [(name, s.total_profit) for name, s in summaries.items() if s is not None and s.total_events > 0]
    present = [s for s in summaries.values() if s is not None]
    top = sorted(with_data, key=operator.itemgetter(1), reverse=True)[:5]
    return {
        "total_templates": len(template_names),
        "total_active_instances": len(summaries),
        "templates_with_instances": len({template_part(name) for name in summaries}),
        "instances_with_performance": len(with_data),
        "total_system_profit": neumaier(s.total_profit for s in present),
        "total_system_events": sum(s.total_events for s in present),
        "top_performers": top,
        "template_names": list(template_names),
        "active_instance_names": list(summaries),
        "report_generated_at": datetime.now().isoformat(),
    }


def analytics_figures(summaries: dict) -> dict:
    """The performance analytics' figures from per-instance summaries (name -> summary or None)."""
    instances = []
    aggregates: dict[str, list] = {}
    for name, s in summaries.items():
        if s is None or s.total_events <= 0:
            continue
        part = template_part(name)
        instances.append((name, part, s.total_profit, s.win_rate, s.total_events, s.current_streak))
        aggregate = aggregates.get(part)
        if aggregate is None:
            aggregate = aggregates[part] = [0.0, 0, 0, 0]
        aggregate[0] += s.total_profit
        aggregate[1] += s.total_events
        aggregate[2] += s.win_count
        aggregate[3] += 1
    total_events = sum(i[4] for i in instances)
    total_wins = sum(a[2] for a in aggregates.values())
    profit = operator.itemgetter(2)
    return {
        "total_profit": neumaier(i[2] for i in instances),
        "total_events": total_events,
        "total_wins": total_wins,
        "system_win_rate": total_wins / total_events if total_events > 0 else 0,
        "active_instances_with_data": len(instances),
        "best_instance": max(instances, key=profit, default=None),
        "worst_instance": min(instances, key=profit, default=None),
        "best_template": max(aggregates.items(), key=lambda item: item[1][0] / item[1][3], default=None),
        "template_performance": aggregates,
        "all_performance_data": instances,
    }


def summaries_of(events_by_name: dict) -> dict:
    return {name: score_summary(events, name) if events else None for name, events in events_by_name.items()}


def system_health_report(template_names: list, events_by_name: dict) -> dict:
    return health_figures(template_names, summaries_of(events_by_name))


def performance_analytics(events_by_name: dict) -> dict:
    return analytics_figures(summaries_of(events_by_name))
