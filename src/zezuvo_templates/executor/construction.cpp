#include "executor/executor.hpp"

namespace zz::executor {

std::span<const boundary::Binding> construction_methods() { return {}; }

}  // namespace zz::executor
