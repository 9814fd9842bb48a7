// Full instance names: the name under which an executor keeps an instance
// activated through the manager, and the split back into its template part.
#pragma once
#include <Python.h>

#include "ref.hpp"

namespace zz::manager {

// template_name + "." + instance_name; neither part is checked or escaped.
Ref full_instance_name(PyObject* template_name, PyObject* instance_name);

// The text before the first "." of an instance name; a name without "." is
// its own template part.  Names that are not text are split by their own
// split(".", 1), as Python would.
Ref template_part(PyObject* instance_name);

}  // namespace zz::manager
