"""A tour of brevant.zezuvo_templates: built-in templates registered through a
manager, instances activated in the runtime, a stream of profit and loss
events, the system reports, and a clean shutdown.

Run with `make demo`.  The event stream is seeded, so every figure is the same
on every run; only the report timestamps change.
"""

import random
from collections.abc import Sequence

from brevant.zezuvo import ZeZuvoRuntime
from brevant.zezuvo_templates import (
    ZeZuvoMultiTemplateManager,
    create_symbol_config_for_flipper,
    create_template_args_for_algo_flipper,
)

SEED = 20250314
EVENTS = 60


def heading(text: str) -> None:
    print()
    print(text)
    print("=" * len(text))


def table(headers: Sequence[str], rows: Sequence[Sequence[object]]) -> None:
    """Prints rows under headers; numbers are right-aligned, everything else left-aligned."""
    cells = [[cell(v) for v in row] for row in rows]
    widths = [max([len(h)] + [len(r[i]) for r in cells]) for i, h in enumerate(headers)]
    numeric = [bool(rows) and all(is_number(row[i]) for row in rows) for i in range(len(headers))]

    def line(values: Sequence[str]) -> str:
        return "  ".join(v.rjust(w) if num else v.ljust(w) for v, w, num in zip(values, widths, numeric)).rstrip()

    print(line(headers))
    print("  ".join("-" * w for w in widths))
    for row in cells:
        print(line(row))
    if not rows:
        print("(none)")


def is_number(value: object) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def cell(value: object) -> str:
    if isinstance(value, float):
        return f"{value:,.2f}"
    if isinstance(value, (list, tuple)):
        return ", ".join(map(str, value)) or "-"
    return "-" if value is None else str(value)


def register_and_activate(manager: ZeZuvoMultiTemplateManager) -> None:
    for builtin in ("algo_flipper.dsl", "multi_symbol_flipper.dsl", "breakout_monitor.dsl", "mean_reversion.dsl"):
        manager.from_builtin(builtin)

    manager.activate(
        "algo_flipper",
        "mnq_fast",
        create_template_args_for_algo_flipper(
            "MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1, offset=0.5, profit_pts=4, loss_pts=7
        ),
    )
    manager.activate(
        "algo_flipper",
        "es_slow",
        create_template_args_for_algo_flipper("ES", "/ESM5", "/MES", "ES", 300, "temathma-5x-12x-vwap", 2,
                                              flip_sides="long"),
    )
    manager.activate(
        "multi_symbol_flipper",
        "index_basket",
        {
            "symbols": [
                create_symbol_config_for_flipper("MNQ", "/NQM5", "/MNQ", "MNQ"),
                create_symbol_config_for_flipper("MES", "/ESM5", "/MES", "MES", timeframe=60, qty=2),
                create_symbol_config_for_flipper("M2K", "/RTYM5", "/M2K", "M2K", algo="trend-3x"),
            ],
            "base_timeframe": 35,
            "base_algo": "temathma-5x-12x-vwap",
            "default_qty": 1,
        },
    )
    manager.activate("breakout_monitor", "nq_range",
                     {"symbol": "/NQM5", "high_level": 21500, "low_level": 21000, "qty": 1})


def trade(manager: ZeZuvoMultiTemplateManager, rng: random.Random) -> None:
    # breakout_monitor.nq_range never trades: it shows up without performance data.
    traders = [("algo_flipper", "mnq_fast"), ("algo_flipper", "es_slow"), ("multi_symbol_flipper", "index_basket")]
    for _ in range(EVENTS):
        template, instance = rng.choice(traders)
        profit = round(rng.gauss(6.0, 45.0), 2)
        manager.state_update(template, instance, {"profit": profit, "win": profit > 0, "fill": rng.randint(1, 3)})


def show_instances(manager: ZeZuvoMultiTemplateManager, runtime: ZeZuvoRuntime) -> None:
    heading("Active instances")
    summary = manager.get_active_summary()
    table(["instance", "created", "predicates", "start"],
          [[name, s.created_count, s.predicate_count, s.start_predicate_count] for name, s in summary.items()])
    print(f"\nruntime holds {len(runtime)} predicates")


def show_health(manager: ZeZuvoMultiTemplateManager) -> None:
    report = manager.get_system_health_report()
    heading("System health")
    table(["figure", "value"], [
        ["templates", report.total_templates],
        ["active instances", report.total_active_instances],
        ["templates with instances", report.templates_with_instances],
        ["instances with performance", report.instances_with_performance],
        ["total profit", report.total_system_profit],
        ["total events", report.total_system_events],
    ])
    print()
    table(["top performer", "profit"], report.top_performers)
    print(f"\ngenerated at {report.report_generated_at}")


def usage(pair: tuple[str, int] | None) -> str | None:
    return pair and f"{pair[0]} ({pair[1]})"


def show_usage(manager: ZeZuvoMultiTemplateManager) -> None:
    stats = manager.get_template_usage_statistics()
    heading("Template usage")
    table(["template", "instances"], list(stats.template_usage_counts.items()))
    print()
    table(["figure", "value"], [
        ["most used", usage(stats.most_used_template)],
        ["least used", usage(stats.least_used_template)],
        ["average per used template", stats.avg_instances_per_template],
        ["unused", stats.unused_templates],
    ])


def show_analytics(manager: ZeZuvoMultiTemplateManager) -> None:
    analytics = manager.get_performance_analytics()
    metrics = analytics.system_metrics
    heading("Performance analytics")
    table(["instance", "template", "profit", "win rate", "events", "streak"],
          [[d.instance_name, d.template_name, d.total_profit, f"{d.win_rate:.0%}", d.total_events, d.current_streak]
           for d in analytics.all_performance_data])
    print()
    table(["template", "profit", "events", "wins", "instances"],
          [[name, a.total_profit, a.total_events, a.total_wins, a.instances]
           for name, a in analytics.template_performance.items()])
    print()
    best_template = analytics.best_template
    table(["figure", "value"], [
        ["system profit", metrics.total_profit],
        ["system win rate", f"{metrics.system_win_rate:.1%} ({metrics.total_wins} of {metrics.total_events})"],
        ["instances with data", metrics.active_instances_with_data],
        ["best instance", analytics.best_instance and analytics.best_instance.instance_name],
        ["worst instance", analytics.worst_instance and analytics.worst_instance.instance_name],
        ["best template (avg/instance)",
         best_template and f"{best_template[0]} ({best_template[1].total_profit / best_template[1].instances:,.2f})"],
    ])


def show_validation(manager: ZeZuvoMultiTemplateManager) -> None:
    heading("Template validation")
    table(["template", "status", "variables", "active", "warnings / errors"],
          [[name, r.status, len(r.template_variables), r.active_instances, r.warnings + r.errors]
           for name, r in manager.validate_all_templates().items()])


def show_export(manager: ZeZuvoMultiTemplateManager) -> None:
    export = manager.export_template_configurations()
    with_performance = sum(1 for c in export.instances.values() if c.performance is not None)
    heading("Configuration export")
    print(f"{export.system_info.total_templates} templates, {export.system_info.total_active_instances} instances "
          f"({with_performance} with performance data), exported at {export.export_timestamp}")


def main() -> None:
    rng = random.Random(SEED)
    runtime = ZeZuvoRuntime()
    manager = ZeZuvoMultiTemplateManager(runtime)

    register_and_activate(manager)
    show_instances(manager, runtime)
    trade(manager, rng)
    show_health(manager)
    show_usage(manager)
    show_analytics(manager)
    show_validation(manager)
    show_export(manager)

    heading("Shutdown")
    removed = manager.deactivate_all()
    print(f"deactivated {removed} instances; runtime holds {len(runtime)} predicates: {runtime.predicates()}")
    assert len(runtime) == 0 and runtime.predicates() == []


if __name__ == "__main__":
    main()
