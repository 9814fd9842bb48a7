// Access to a manager's registry (`_executors`), shared by every manager
// operation.  The registry is whatever map the manager holds, read through
// its field at the moment of use; exact dicts take the C fast path, other
// maps are used through their own operations.
#pragma once
#include <Python.h>

#include "ref.hpp"

namespace zz::manager {

// The registry itself (not a copy).
Ref registry(PyObject* manager);

// Whether the name is registered: 1, 0, or -1 with an error set.
int is_registered(PyObject* manager, PyObject* template_name);

// The executor registered under the name: 1 (out set), 0 (not registered), or -1 with an error set.
int find_executor(PyObject* manager, PyObject* template_name, Ref& out);

// The registered executors in registration order, as a new list, so that a
// walk stays valid while callbacks change the registry.
Ref executors_snapshot(PyObject* manager);

// The manager's own `_get_executor(template_name)`, called as Python does.
Ref get_executor(PyObject* manager, PyObject* template_name);

}  // namespace zz::manager
