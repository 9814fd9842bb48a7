#include "executor/executor.hpp"

namespace zz::executor {

std::span<const boundary::Binding> performance_methods() { return {}; }

}  // namespace zz::executor
