#include "records/records.hpp"

namespace zz::records {

RecordType CachedTemplate, ActiveTemplate, PerformanceEvent, PerformanceSummary, TemplateMetadata,
    SystemHealthReport, TemplateValidationResult, TemplateUsageStatistics, SystemInfo, TemplateDefinition,
    ExportPerformanceData, InstanceConfiguration, TemplateConfigurationExport, SystemMetrics, InstancePerformanceData,
    TemplatePerformanceAggregate, PerformanceAnalytics, TemplateDebugInfo, ActiveTemplateSummary, TemplateInfo;

namespace {

constexpr Default None = Default::None;

constexpr Field kCachedTemplate[] = {
    {"template", "Template"}, {"mtime", "float"}, {"content_hash", "str"}};
constexpr Field kActiveTemplate[] = {
    {"name", "str"},
    {"dsl_text", "str"},
    {"created_count", "int"},
    {"start_ids", "set[PredicateId]"},
    {"all_ids", "set[PredicateId]"},
    {"activated_at", "datetime"},
    {"raw_template", "str | None", None},
    {"template_parameters", "dict[str, Any] | None", None},
    {"template_source_id", "str | None", None}};
constexpr Field kPerformanceEvent[] = {
    {"timestamp", "datetime"}, {"profit", "float"}, {"win", "bool"}, {"metadata", "dict[str, Any]", Default::NewDict}};
constexpr Field kPerformanceSummary[] = {
    {"name", "str"},           {"total_events", "int"},         {"total_profit", "float"},
    {"win_count", "int"},      {"loss_count", "int"},           {"win_rate", "float"},
    {"current_streak", "int"}, {"streak_type", "str"},          {"runtime_seconds", "float"},
    {"first_event", "datetime | None"}, {"last_event", "datetime | None"}, {"avg_profit_per_trade", "float"}};
constexpr Field kTemplateMetadata[] = {
    {"instance_name", "str"},
    {"template_source_id", "str"},
    {"raw_template", "str"},
    {"template_parameters", "dict[str, Any]"},
    {"rendered_dsl", "str"},
    {"activated_at", "datetime"},
    {"created_count", "int"},
    {"predicate_count", "int"},
    {"start_predicate_count", "int"},
    {"performance_summary", "PerformanceSummary | None", None},
    {"template_variables", "set[str] | None", None},
    {"validation_status", "str | None", None},
    {"last_checked", "datetime | None", None}};
constexpr Field kSystemHealthReport[] = {
    {"total_templates", "int"},          {"total_active_instances", "int"},
    {"templates_with_instances", "int"}, {"instances_with_performance", "int"},
    {"total_system_profit", "float"},    {"total_system_events", "int"},
    {"top_performers", "list[tuple[str, float]]"}, {"template_names", "list[str]"},
    {"active_instance_names", "list[str]"}, {"report_generated_at", "str"}};
constexpr Field kTemplateValidationResult[] = {
    {"status", "str"},    {"template_variables", "list[str]"}, {"active_instances", "int"},
    {"source_id", "str"}, {"errors", "list[str]"},             {"warnings", "list[str]"}};
constexpr Field kTemplateUsageStatistics[] = {
    {"total_instances", "int"},
    {"total_templates", "int"},
    {"template_usage_counts", "dict[str, int]"},
    {"most_used_template", "tuple[str, int] | None"},
    {"least_used_template", "tuple[str, int] | None"},
    {"avg_instances_per_template", "float"},
    {"unused_templates", "list[str]"}};
constexpr Field kSystemInfo[] = {{"total_templates", "int"}, {"total_active_instances", "int"}};
constexpr Field kTemplateDefinition[] = {
    {"source_id", "str"}, {"template_variables", "list[str]"}, {"raw_template", "str"}};
constexpr Field kExportPerformanceData[] = {
    {"total_events", "int"}, {"total_profit", "float"}, {"win_rate", "float"}, {"current_streak", "int"},
    {"streak_type", "str"}};
constexpr Field kInstanceConfiguration[] = {
    {"template_name", "str"},
    {"template_parameters", "dict[str, Any]"},
    {"rendered_dsl", "str"},
    {"activated_at", "str"},
    {"predicate_count", "int"},
    {"start_predicate_count", "int"},
    {"performance", "ExportPerformanceData | None", None}};
constexpr Field kTemplateConfigurationExport[] = {
    {"export_timestamp", "str"},
    {"system_info", "SystemInfo"},
    {"templates", "dict[str, TemplateDefinition]"},
    {"instances", "dict[str, InstanceConfiguration]"}};
constexpr Field kSystemMetrics[] = {
    {"total_profit", "float"}, {"total_events", "int"}, {"total_wins", "int"}, {"system_win_rate", "float"},
    {"active_instances_with_data", "int"}};
constexpr Field kInstancePerformanceData[] = {
    {"instance_name", "str"}, {"template_name", "str"}, {"total_profit", "float"},
    {"win_rate", "float"},    {"total_events", "int"},  {"current_streak", "int"}};
constexpr Field kTemplatePerformanceAggregate[] = {
    {"total_profit", "float"}, {"total_events", "int"}, {"total_wins", "int"}, {"instances", "int"}};
constexpr Field kPerformanceAnalytics[] = {
    {"system_metrics", "SystemMetrics"},
    {"best_instance", "InstancePerformanceData | None"},
    {"worst_instance", "InstancePerformanceData | None"},
    {"best_template", "tuple[str, TemplatePerformanceAggregate] | None"},
    {"template_performance", "dict[str, TemplatePerformanceAggregate]"},
    {"all_performance_data", "list[InstancePerformanceData]"}};
constexpr Field kTemplateDebugInfo[] = {
    {"instance_name", "str"},
    {"template_source_id", "str"},
    {"template_variables", "list[str]"},
    {"validation_status", "str"},
    {"activated_at", "str"},
    {"runtime_seconds", "float"},
    {"predicate_count", "int"},
    {"start_predicate_count", "int"},
    {"performance_events_count", "int"},
    {"has_performance_data", "bool"},
    {"template_parameters", "dict[str, Any]"},
    {"rendered_dsl_length", "int"},
    {"raw_template_length", "int"}};
constexpr Field kActiveTemplateSummary[] = {
    {"activated_at", "datetime"}, {"created_count", "int"}, {"predicate_count", "int"},
    {"start_predicate_count", "int"}};
constexpr Field kTemplateInfo[] = {
    {"template_name", "str"}, {"source_id", "str"}, {"template_variables", "list[str]"},
    {"active_instances", "list[str]"}, {"active_count", "int"}};

struct Entry {
    RecordType* type;
    ClassSpec spec;
};

// Definition order of the module namespace.
const Entry kRecords[] = {
    {&CachedTemplate, {"CachedTemplate", "Represents a cached compiled template with metadata.", kCachedTemplate}},
    {&ActiveTemplate,
     {"ActiveTemplate", "Represents an active template instance running in the ZeZuvo runtime.", kActiveTemplate}},
    {&PerformanceEvent,
     {"PerformanceEvent", "Represents a single performance event for an algorithm.", kPerformanceEvent}},
    {&PerformanceSummary,
     {"PerformanceSummary", "Summary statistics for an algorithm's performance.", kPerformanceSummary}},
    {&TemplateMetadata,
     {"TemplateMetadata",
      "Comprehensive metadata for a template instance including raw template, parameters, and rendered output.",
      kTemplateMetadata}},
    {&SystemHealthReport,
     {"SystemHealthReport", "Comprehensive system health report for all templates and instances.",
      kSystemHealthReport}},
    {&TemplateValidationResult,
     {"TemplateValidationResult", "Validation result for a single template.", kTemplateValidationResult}},
    {&TemplateUsageStatistics,
     {"TemplateUsageStatistics", "Usage statistics for all templates.", kTemplateUsageStatistics}},
    {&SystemInfo, {"SystemInfo", "System information for export data.", kSystemInfo}},
    {&TemplateDefinition, {"TemplateDefinition", "Template definition for export data.", kTemplateDefinition}},
    {&ExportPerformanceData,
     {"ExportPerformanceData", "Performance data for an instance in export.", kExportPerformanceData}},
    {&InstanceConfiguration,
     {"InstanceConfiguration", "Instance configuration for export data.", kInstanceConfiguration}},
    {&TemplateConfigurationExport,
     {"TemplateConfigurationExport", "Complete template configuration export.", kTemplateConfigurationExport}},
    {&SystemMetrics, {"SystemMetrics", "System-wide performance metrics.", kSystemMetrics}},
    {&InstancePerformanceData,
     {"InstancePerformanceData", "Performance data for analytics.", kInstancePerformanceData}},
    {&TemplatePerformanceAggregate,
     {"TemplatePerformanceAggregate", "Aggregated performance data for a template.", kTemplatePerformanceAggregate}},
    {&PerformanceAnalytics,
     {"PerformanceAnalytics", "Comprehensive performance analytics across all templates.", kPerformanceAnalytics}},
    {&TemplateDebugInfo,
     {"TemplateDebugInfo", "Detailed debug information for a template instance.", kTemplateDebugInfo}},
    {&ActiveTemplateSummary,
     {"ActiveTemplateSummary", "Summary information for an active template.", kActiveTemplateSummary}},
    {&TemplateInfo, {"TemplateInfo", "Information about a specific template.", kTemplateInfo}},
};

}  // namespace

bool define_all(PyObject* namespace_dict) {
    for (const Entry& e : kRecords) {
        if (!e.type->define(namespace_dict, e.spec)) return false;
    }
    return true;
}

}  // namespace zz::records
