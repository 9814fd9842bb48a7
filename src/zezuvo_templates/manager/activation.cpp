#include "manager/manager.hpp"

namespace zz::manager {

std::span<const boundary::Binding> activation_methods() { return {}; }

}  // namespace zz::manager
