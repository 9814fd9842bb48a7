// ZeZuvoMultiTemplateManager: executors registered under template names,
// hierarchical instance names, delegated queries and system reports.
#pragma once
#include <span>

#include "frame/boundary.hpp"
#include "records/record_type.hpp"

namespace zz::manager {

extern records::RecordType Manager;

namespace field {
enum : std::size_t { zezuvo_runtime, executors };
}

std::span<const boundary::Binding> registry_methods();    // registry and source conflicts
std::span<const boundary::Binding> activation_methods();  // hierarchical activation
std::span<const boundary::Binding> query_methods();       // delegated queries
std::span<const boundary::Binding> report_methods();      // system-wide reports

}  // namespace zz::manager
