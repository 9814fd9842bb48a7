"""Seeded inputs shared by the module and its baselines: both sides of a row get the same data."""

from __future__ import annotations

import random
from datetime import datetime, timedelta

import baselines

import brevant.zezuvo_templates as zt
from brevant.zezuvo import ZeZuvoRuntime

Executor = zt.ZeZuvoRuntimeTemplateExecutor
T0 = datetime(2025, 3, 14, 9, 30)

# A small template that the stand-in loader accepts, for instances of the report workloads.
ENTRY = 'entry_{{ symbol }} = "if price > {{ level }}: buy"\n'
TEMPLATES_IN_REPORTS = 10

SYMBOLS = [
    zt.create_symbol_config_for_flipper("ES", "/ESZ4", "/MES", "ES"),
    zt.create_symbol_config_for_flipper("NQ", "/NQM5", "/MNQ", "NQ", timeframe=60, algo="fast", qty=2),
]
RENDER_ARGS = {
    "algo_flipper.dsl": zt.create_template_args_for_algo_flipper(
        "MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1, offset=0.5, profit_pts=4, loss_pts=7),
    "simple_flipper.dsl": dict(buy_condition="/ES price < 5000", action_buy="buy /ES 1 MKT",
                               sell_condition="/ES price > 5100", action_sell="sell /ES 1 MKT"),
    "breakout_monitor.dsl": dict(symbol="/ES", high_level=5100, low_level=4900, qty=2),
    "mean_reversion.dsl": dict(symbol="/ES", timeframe=300, rsi_low=30, rsi_high=70, qty=1),
    "multi_symbol_flipper.dsl": dict(symbols=SYMBOLS, base_timeframe=35, base_algo="slow", default_qty=1),
}

# The event maps of the state_update rows.
EVENT_MAPS = {
    "now": {"profit": 12.5, "win": True},
    "ts": {"profit": 12.5, "win": True, "ts": T0},
    "ts+metadata": {"profit": 12.5, "win": True, "ts": T0, "venue": "CME", "qty": 2, "note": "fill"},
}


def event_stream(n: int, *, shuffled: bool = False, seed: int = 1) -> list[tuple]:
    """n (timestamp, profit, win) triples, timestamps strictly rising (or shuffled), a profit above 0 a win."""
    rng = random.Random(seed)
    stream = []
    for i in range(n):
        profit = round(rng.uniform(-100.0, 100.0), 2)
        stream.append((T0 + timedelta(seconds=i, microseconds=rng.randrange(1_000_000)), profit, profit > 0))
    if shuffled:
        rng.shuffle(stream)
    return stream


def module_events(stream) -> Executor:
    """An executor holding the stream as the events of the name "algo"."""
    executor = Executor.from_string(ZeZuvoRuntime(), ENTRY)
    record = executor.state_update
    for ts, profit, win in stream:
        record("algo", {"profit": profit, "win": win, "ts": ts})
    return executor


def python_events(stream) -> list:
    return [baselines.PerformanceEvent(ts, profit, win, {}) for ts, profit, win in stream]


def instance_names(instances: int) -> list[tuple[str, str]]:
    """(template, instance) pairs: `instances` spread over the report templates in registration order."""
    per_template = instances // TEMPLATES_IN_REPORTS
    return [(f"t{t}", f"i{i}") for t in range(TEMPLATES_IN_REPORTS) for i in range(per_template)]


def module_manager(instances: int, events: int) -> zt.ZeZuvoMultiTemplateManager:
    """A manager with `instances` active instances of ten templates, each with `events` events."""
    manager = zt.ZeZuvoMultiTemplateManager(ZeZuvoRuntime())
    for t in range(TEMPLATES_IN_REPORTS):
        manager.from_string(ENTRY, f"t{t}")
    for n, (template, instance) in enumerate(instance_names(instances)):
        manager.activate(template, instance, {"symbol": f"S{n}", "level": n})
        for ts, profit, win in event_stream(events, seed=n):
            manager.state_update(template, instance, {"profit": profit, "win": win, "ts": ts})
    return manager


def python_registry(instances: int, events: int) -> tuple[list, dict]:
    """The same as module_manager's, as plain data: template names and full instance name -> events."""
    templates = [f"t{t}" for t in range(TEMPLATES_IN_REPORTS)]
    events_by_name = {f"{template}.{instance}": python_events(event_stream(events, seed=n))
                      for n, (template, instance) in enumerate(instance_names(instances))}
    return templates, events_by_name


def snapshot_manager(manager: zt.ZeZuvoMultiTemplateManager) -> zt.ZeZuvoMultiTemplateManager:
    """A manager whose reports read a metadata map taken once from `manager`: the reports' own work alone."""
    snapshot = manager.get_all_active_templates_comprehensive()

    class SnapshotManager(zt.ZeZuvoMultiTemplateManager):
        def get_all_active_templates_comprehensive(self):
            return snapshot

    copy = SnapshotManager(manager.zezuvo_runtime)
    copy._executors.update(manager._executors)
    return copy
