"""Record conventions: host data classes with slots, declared types as text."""

import dataclasses
from datetime import datetime

import pytest

import brevant.zezuvo_templates as zt

# (record, documentation, [(field, declared type)], fields with a default)
RECORDS = [
    ("CachedTemplate", "Represents a cached compiled template with metadata.",
     [("template", "Template"), ("mtime", "float"), ("content_hash", "str")], {}),
    ("ActiveTemplate", "Represents an active template instance running in the ZeZuvo runtime.",
     [("name", "str"), ("dsl_text", "str"), ("created_count", "int"), ("start_ids", "set[PredicateId]"),
      ("all_ids", "set[PredicateId]"), ("activated_at", "datetime"), ("raw_template", "str | None"),
      ("template_parameters", "dict[str, Any] | None"), ("template_source_id", "str | None")],
     {"raw_template": None, "template_parameters": None, "template_source_id": None}),
    ("PerformanceEvent", "Represents a single performance event for an algorithm.",
     [("timestamp", "datetime"), ("profit", "float"), ("win", "bool"), ("metadata", "dict[str, Any]")],
     {"metadata": {}}),
    ("PerformanceSummary", "Summary statistics for an algorithm's performance.",
     [("name", "str"), ("total_events", "int"), ("total_profit", "float"), ("win_count", "int"),
      ("loss_count", "int"), ("win_rate", "float"), ("current_streak", "int"), ("streak_type", "str"),
      ("runtime_seconds", "float"), ("first_event", "datetime | None"), ("last_event", "datetime | None"),
      ("avg_profit_per_trade", "float")], {}),
    ("TemplateMetadata",
     "Comprehensive metadata for a template instance including raw template, parameters, and rendered output.",
     [("instance_name", "str"), ("template_source_id", "str"), ("raw_template", "str"),
      ("template_parameters", "dict[str, Any]"), ("rendered_dsl", "str"), ("activated_at", "datetime"),
      ("created_count", "int"), ("predicate_count", "int"), ("start_predicate_count", "int"),
      ("performance_summary", "PerformanceSummary | None"), ("template_variables", "set[str] | None"),
      ("validation_status", "str | None"), ("last_checked", "datetime | None")],
     {"performance_summary": None, "template_variables": None, "validation_status": None, "last_checked": None}),
    ("SystemHealthReport", "Comprehensive system health report for all templates and instances.",
     [("total_templates", "int"), ("total_active_instances", "int"), ("templates_with_instances", "int"),
      ("instances_with_performance", "int"), ("total_system_profit", "float"), ("total_system_events", "int"),
      ("top_performers", "list[tuple[str, float]]"), ("template_names", "list[str]"),
      ("active_instance_names", "list[str]"), ("report_generated_at", "str")], {}),
    ("TemplateValidationResult", "Validation result for a single template.",
     [("status", "str"), ("template_variables", "list[str]"), ("active_instances", "int"), ("source_id", "str"),
      ("errors", "list[str]"), ("warnings", "list[str]")], {}),
    ("TemplateUsageStatistics", "Usage statistics for all templates.",
     [("total_instances", "int"), ("total_templates", "int"), ("template_usage_counts", "dict[str, int]"),
      ("most_used_template", "tuple[str, int] | None"), ("least_used_template", "tuple[str, int] | None"),
      ("avg_instances_per_template", "float"), ("unused_templates", "list[str]")], {}),
    ("SystemInfo", "System information for export data.",
     [("total_templates", "int"), ("total_active_instances", "int")], {}),
    ("TemplateDefinition", "Template definition for export data.",
     [("source_id", "str"), ("template_variables", "list[str]"), ("raw_template", "str")], {}),
    ("ExportPerformanceData", "Performance data for an instance in export.",
     [("total_events", "int"), ("total_profit", "float"), ("win_rate", "float"), ("current_streak", "int"),
      ("streak_type", "str")], {}),
    ("InstanceConfiguration", "Instance configuration for export data.",
     [("template_name", "str"), ("template_parameters", "dict[str, Any]"), ("rendered_dsl", "str"),
      ("activated_at", "str"), ("predicate_count", "int"), ("start_predicate_count", "int"),
      ("performance", "ExportPerformanceData | None")], {"performance": None}),
    ("TemplateConfigurationExport", "Complete template configuration export.",
     [("export_timestamp", "str"), ("system_info", "SystemInfo"), ("templates", "dict[str, TemplateDefinition]"),
      ("instances", "dict[str, InstanceConfiguration]")], {}),
    ("SystemMetrics", "System-wide performance metrics.",
     [("total_profit", "float"), ("total_events", "int"), ("total_wins", "int"), ("system_win_rate", "float"),
      ("active_instances_with_data", "int")], {}),
    ("InstancePerformanceData", "Performance data for analytics.",
     [("instance_name", "str"), ("template_name", "str"), ("total_profit", "float"), ("win_rate", "float"),
      ("total_events", "int"), ("current_streak", "int")], {}),
    ("TemplatePerformanceAggregate", "Aggregated performance data for a template.",
     [("total_profit", "float"), ("total_events", "int"), ("total_wins", "int"), ("instances", "int")], {}),
    ("PerformanceAnalytics", "Comprehensive performance analytics across all templates.",
     [("system_metrics", "SystemMetrics"), ("best_instance", "InstancePerformanceData | None"),
      ("worst_instance", "InstancePerformanceData | None"),
      ("best_template", "tuple[str, TemplatePerformanceAggregate] | None"),
      ("template_performance", "dict[str, TemplatePerformanceAggregate]"),
      ("all_performance_data", "list[InstancePerformanceData]")], {}),
    ("TemplateDebugInfo", "Detailed debug information for a template instance.",
     [("instance_name", "str"), ("template_source_id", "str"), ("template_variables", "list[str]"),
      ("validation_status", "str"), ("activated_at", "str"), ("runtime_seconds", "float"),
      ("predicate_count", "int"), ("start_predicate_count", "int"), ("performance_events_count", "int"),
      ("has_performance_data", "bool"), ("template_parameters", "dict[str, Any]"),
      ("rendered_dsl_length", "int"), ("raw_template_length", "int")], {}),
    ("ActiveTemplateSummary", "Summary information for an active template.",
     [("activated_at", "datetime"), ("created_count", "int"), ("predicate_count", "int"),
      ("start_predicate_count", "int")], {}),
    ("TemplateInfo", "Information about a specific template.",
     [("template_name", "str"), ("source_id", "str"), ("template_variables", "list[str]"),
      ("active_instances", "list[str]"), ("active_count", "int")], {}),
]


@pytest.mark.parametrize("name, doc, fields, defaults", RECORDS, ids=[r[0] for r in RECORDS])
def test_record_type_surface(name, doc, fields, defaults):
    cls = getattr(zt, name)
    assert dataclasses.is_dataclass(cls)
    assert cls.__doc__ == doc
    assert cls.__module__ == "brevant.zezuvo_templates"
    assert [(f.name, f.type) for f in dataclasses.fields(cls)] == fields
    assert cls.__slots__ == tuple(f for f, _ in fields)

    required = [f for f, _ in fields if f not in defaults]
    record = cls(*range(len(required)))
    assert [getattr(record, f) for f in required] == list(range(len(required)))  # stored unchanged
    assert {f: getattr(record, f) for f in defaults} == defaults
    assert repr(record) == f"{name}(" + ", ".join(
        f"{f}={getattr(record, f)!r}" for f, _ in fields) + ")"
    with pytest.raises(TypeError):
        cls(*range(len(required) - 1))
    with pytest.raises(TypeError):
        hash(record)
    with pytest.raises(AttributeError):
        record.extra = 1
    assert not hasattr(record, "__dict__")
    assert dataclasses.replace(record) == record
    assert dataclasses.asdict(record) == {f: getattr(record, f) for f, _ in fields}


def test_new_empty_map_default_is_not_shared():
    a = zt.PerformanceEvent(datetime(2025, 1, 1), 150.0, True)
    b = zt.PerformanceEvent(datetime(2025, 1, 1), 150.0, True)
    a.metadata["k"] = 1
    assert b.metadata == {}


def test_equality_is_per_type_and_fieldwise():
    assert zt.SystemInfo(1, 2) == zt.SystemInfo(1, 2)
    assert zt.SystemInfo(1, 2) != zt.SystemInfo(2, 1)
    assert zt.SystemMetrics(1.0, 2, 3, 0.5, 1) != zt.InstancePerformanceData(1.0, 2, 3, 0.5, 1, None)
    nested = dict(export_timestamp="t", system_info=zt.SystemInfo(1, 1), templates={}, instances={})
    assert zt.TemplateConfigurationExport(**nested) == zt.TemplateConfigurationExport(**nested)
    other = dict(nested, system_info=zt.SystemInfo(1, 2))
    assert zt.TemplateConfigurationExport(**nested) != zt.TemplateConfigurationExport(**other)
    with pytest.raises(TypeError):
        zt.SystemInfo(1, 2) < zt.SystemInfo(2, 3)
    with pytest.raises(TypeError):
        {zt.SystemInfo(1, 2)}


def test_construction_by_field_name_and_reassignment():
    data = zt.ExportPerformanceData(total_events=3, total_profit=125.0, win_rate=0.5, current_streak=1,
                                    streak_type="loss")
    assert data == zt.ExportPerformanceData(3, 125.0, 0.5, 1, "loss")
    data.total_events = "many"
    assert data.total_events == "many"
    with pytest.raises(TypeError):
        zt.SystemInfo(1, 2, unknown=3)
    with pytest.raises(TypeError):
        zt.PerformanceSummary("n", 0, 0.0, 0, 0, 0.0, 0, "none", 0.0, avg_profit_per_trade=0.0)


def test_template_cache_is_a_slots_data_class_with_its_own_map():
    assert [(f.name, f.type) for f in dataclasses.fields(zt.TemplateCache)] == [
        ("_cache", "dict[str, CachedTemplate]")]
    a, b = zt.TemplateCache(), zt.TemplateCache()
    assert a == b and a._cache is not b._cache
    assert isinstance(zt._template_cache, zt.TemplateCache)
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(AttributeError):
        a.other = {}
