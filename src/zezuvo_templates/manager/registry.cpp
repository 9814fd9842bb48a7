#include "manager/manager.hpp"

namespace zz::manager {

std::span<const boundary::Binding> registry_methods() { return {}; }

}  // namespace zz::manager
