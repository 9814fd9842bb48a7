#include "executor/executor.hpp"

namespace zz::executor {

std::span<const boundary::Binding> activation_methods() { return {}; }

}  // namespace zz::executor
