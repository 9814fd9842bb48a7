#include "manager/manager.hpp"

namespace zz::manager {

std::span<const boundary::Binding> query_methods() { return {}; }

}  // namespace zz::manager
