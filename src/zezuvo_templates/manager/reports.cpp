#include "manager/manager.hpp"

namespace zz::manager {

std::span<const boundary::Binding> report_methods() { return {}; }

}  // namespace zz::manager
