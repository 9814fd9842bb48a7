// ZeZuvoRuntimeTemplateExecutor: one template and its named activations.
// The class is a slots data class; its operations are C++ method
// descriptors, one file per concern.
#pragma once
#include <span>

#include "frame/boundary.hpp"
#include "records/record_type.hpp"

namespace zz::executor {

extern records::RecordType Executor;

namespace field {
enum : std::size_t { zezuvo_runtime, template_source_id, jinja_env, dsl_loader, template_content, template_vars,
                     compiled_template, active_templates, performance_events };
}

// Environment(loader=BaseLoader(), trim_blocks=True, lstrip_blocks=True), via the module's names.
Ref new_environment();

std::span<const boundary::Binding> construction_methods();  // factories and creation steps
std::span<const boundary::Binding> rendering_methods();     // variables, validation, rendering
std::span<const boundary::Binding> activation_methods();    // activation lifecycle
std::span<const boundary::Binding> performance_methods();   // events and summaries
std::span<const boundary::Binding> metadata_methods();      // metadata and debug records

}  // namespace zz::executor
