#include "executor/executor.hpp"

namespace zz::executor {

std::span<const boundary::Binding> rendering_methods() { return {}; }

}  // namespace zz::executor
