#include "executor/executor.hpp"

namespace zz::executor {

std::span<const boundary::Binding> metadata_methods() { return {}; }

}  // namespace zz::executor
