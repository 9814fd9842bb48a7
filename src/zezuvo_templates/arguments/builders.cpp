#include "frame/subsystems.hpp"

namespace zz::arguments {

bool define_builders(PyObject*, PyObject*) { return true; }

}  // namespace zz::arguments
