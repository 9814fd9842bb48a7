"""A fully annotated caller of the public surface, checked with `mypy --strict`
(never imported by the tests).  Each `type: ignore[...]` is an assertion: under
--strict an ignore that stops matching an error is itself an error, so the
stubs must keep rejecting those calls."""

from datetime import datetime
from pathlib import Path

from brevant.zezuvo import PredicateId, ZeZuvoRuntime
from brevant.zezuvo_dsl import ZeZuvoDSLLoader
from brevant.zezuvo_templates import (
    BUILTIN_TEMPLATES,
    ActiveTemplate,
    PerformanceSummary,
    TemplateInfo,
    ZeZuvoMultiTemplateManager,
    ZeZuvoRuntimeTemplateExecutor,
    _template_cache,
    create_symbol_config_for_flipper,
    create_template_args_for_algo_flipper,
)


class TracingExecutor(ZeZuvoRuntimeTemplateExecutor):
    pass


def executor_road(runtime: ZeZuvoRuntime, template_file: Path) -> float:
    executor = ZeZuvoRuntimeTemplateExecutor.from_builtin(runtime, "algo_flipper.dsl")
    from_file: ZeZuvoRuntimeTemplateExecutor = ZeZuvoRuntimeTemplateExecutor.from_file(runtime, template_file)
    from_string = ZeZuvoRuntimeTemplateExecutor.from_string(runtime, "x = 1", source_id=None)
    traced: TracingExecutor = TracingExecutor.from_string(runtime, "x = 1")  # factories return the subclass
    assert from_file.template_source_id and from_string.jinja_env and traced._dsl_loader.zezuvoRuntime is runtime

    args = create_template_args_for_algo_flipper(
        "MNQ", "/NQM5", "/MNQ", "MNQ", 35, "temathma-5x-12x-vwap", 1, offset=0.5, profit_pts=4
    )
    valid, missing = executor.validate_template_args(args)
    assert valid and not missing and executor.populate_template(args)
    created, start_ids, all_ids = executor.create_and_activate("mnq_fast", args, enable=False)
    ids: set[PredicateId] = start_ids | all_ids
    info: ActiveTemplate | None = executor.get_active_info("mnq_fast")
    assert info is not None and info.activated_at <= datetime.now() and created >= len(ids)

    executor.state_update("mnq_fast", {"profit": 150.0, "win": True, "ts": datetime.now()})
    summary = executor.score_summary("mnq_fast")
    events = executor.score_get("mnq_fast")
    metadata = executor.get_comprehensive_metadata("mnq_fast")
    debug = executor.get_template_debug_info("mnq_fast")
    assert metadata is not None and debug is not None and events[0]["win"] is True
    assert executor.deactivate("mnq_fast") and executor.deactivate_all() == 0
    return summary.total_profit + summary.win_rate + debug.runtime_seconds


def manager_road(runtime: ZeZuvoRuntime) -> list[str]:
    manager = ZeZuvoMultiTemplateManager(runtime)
    executor = manager.from_builtin("multi_symbol_flipper.dsl")
    assert manager["multi_symbol_flipper"] is executor and "multi_symbol_flipper" in manager
    manager.activate(
        "multi_symbol_flipper",
        "basket",
        {
            "symbols": [create_symbol_config_for_flipper("ES", "/ESZ4", "/ESZ5", "ES", timeframe=60)],
            "base_timeframe": 35,
            "base_algo": "vwap",
            "default_qty": 1,
        },
    )
    manager.state_update("multi_symbol_flipper", "basket", {"profit": -25.0, "win": False})
    summaries: dict[str, PerformanceSummary] = manager.get_all_performance_summaries()
    info: TemplateInfo | None = manager.get_template_info("multi_symbol_flipper")

    health = manager.get_system_health_report()
    best_name, best_profit = health.top_performers[0]
    analytics = manager.get_performance_analytics()
    if analytics.best_template is not None:
        _, aggregate = analytics.best_template
        best_profit += aggregate.total_profit / aggregate.instances
    export = manager.export_template_configurations(include_performance=False)
    usage = manager.get_template_usage_statistics()
    results = manager.validate_all_templates()
    assert info is not None and best_profit and export.system_info.total_templates and usage.total_instances == 1
    assert summaries and results["multi_symbol_flipper"].status == "valid"
    manager.clear_template_cache()
    assert manager.remove_template("multi_symbol_flipper") and manager.deactivate_all() == 0
    return [best_name, *manager.get_available_builtin_names(), *BUILTIN_TEMPLATES, *_template_cache._cache]


def rejected(runtime: ZeZuvoRuntime, manager: ZeZuvoMultiTemplateManager, summary: PerformanceSummary) -> None:
    ZeZuvoRuntimeTemplateExecutor.from_builtin(runtime, 5)  # type: ignore[arg-type]
    ZeZuvoRuntimeTemplateExecutor.from_file(runtime, 5)  # type: ignore[arg-type]
    manager.activate("algo_flipper", "fast", [("qty", 1)])  # type: ignore[arg-type]
    PerformanceSummary("only a name")  # type: ignore[call-arg]
    summary.extra = 1  # type: ignore[attr-defined]
    len(manager)  # type: ignore[arg-type]
    for _ in manager:  # type: ignore[misc]
        pass
    ZeZuvoDSLLoader().load("x = 1", activate=True, strict=True)  # type: ignore[call-arg]
