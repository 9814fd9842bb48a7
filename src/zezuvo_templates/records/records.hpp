// The twenty record types of the module and the indexes of their fields.
#pragma once
#include "records/record_type.hpp"

namespace zz::records {

extern RecordType CachedTemplate, ActiveTemplate, PerformanceEvent, PerformanceSummary, TemplateMetadata,
    SystemHealthReport, TemplateValidationResult, TemplateUsageStatistics, SystemInfo, TemplateDefinition,
    ExportPerformanceData, InstanceConfiguration, TemplateConfigurationExport, SystemMetrics, InstancePerformanceData,
    TemplatePerformanceAggregate, PerformanceAnalytics, TemplateDebugInfo, ActiveTemplateSummary, TemplateInfo;

// Defines all twenty, in the module's order, binding each in the namespace.
bool define_all(PyObject* namespace_dict);

namespace cached_template {
enum : std::size_t { template_, mtime, content_hash };
}
namespace active_template {
enum : std::size_t { name, dsl_text, created_count, start_ids, all_ids, activated_at, raw_template,
                     template_parameters, template_source_id };
}
namespace performance_event {
enum : std::size_t { timestamp, profit, win, metadata };
}
namespace performance_summary {
enum : std::size_t { name, total_events, total_profit, win_count, loss_count, win_rate, current_streak, streak_type,
                     runtime_seconds, first_event, last_event, avg_profit_per_trade };
}
namespace template_metadata {
enum : std::size_t { instance_name, template_source_id, raw_template, template_parameters, rendered_dsl,
                     activated_at, created_count, predicate_count, start_predicate_count, performance_summary,
                     template_variables, validation_status, last_checked };
}
namespace system_health_report {
enum : std::size_t { total_templates, total_active_instances, templates_with_instances, instances_with_performance,
                     total_system_profit, total_system_events, top_performers, template_names,
                     active_instance_names, report_generated_at };
}
namespace template_validation_result {
enum : std::size_t { status, template_variables, active_instances, source_id, errors, warnings };
}
namespace template_usage_statistics {
enum : std::size_t { total_instances, total_templates, template_usage_counts, most_used_template,
                     least_used_template, avg_instances_per_template, unused_templates };
}
namespace system_info {
enum : std::size_t { total_templates, total_active_instances };
}
namespace template_definition {
enum : std::size_t { source_id, template_variables, raw_template };
}
namespace export_performance_data {
enum : std::size_t { total_events, total_profit, win_rate, current_streak, streak_type };
}
namespace instance_configuration {
enum : std::size_t { template_name, template_parameters, rendered_dsl, activated_at, predicate_count,
                     start_predicate_count, performance };
}
namespace template_configuration_export {
enum : std::size_t { export_timestamp, system_info, templates, instances };
}
namespace system_metrics {
enum : std::size_t { total_profit, total_events, total_wins, system_win_rate, active_instances_with_data };
}
namespace instance_performance_data {
enum : std::size_t { instance_name, template_name, total_profit, win_rate, total_events, current_streak };
}
namespace template_performance_aggregate {
enum : std::size_t { total_profit, total_events, total_wins, instances };
}
namespace performance_analytics {
enum : std::size_t { system_metrics, best_instance, worst_instance, best_template, template_performance,
                     all_performance_data };
}
namespace template_debug_info {
enum : std::size_t { instance_name, template_source_id, template_variables, validation_status, activated_at,
                     runtime_seconds, predicate_count, start_predicate_count, performance_events_count,
                     has_performance_data, template_parameters, rendered_dsl_length, raw_template_length };
}
namespace active_template_summary {
enum : std::size_t { activated_at, created_count, predicate_count, start_predicate_count };
}
namespace template_info {
enum : std::size_t { template_name, source_id, template_variables, active_instances, active_count };
}

}  // namespace zz::records
