#include "manager/names.hpp"

namespace zz::manager {

Ref full_instance_name(PyObject* template_name, PyObject* instance_name) {
    return Ref::steal(PyUnicode_FromFormat("%U.%U", template_name, instance_name));
}

Ref template_part(PyObject* instance_name) {
    if (!PyUnicode_Check(instance_name)) {
        Ref parts = Ref::steal(PyObject_CallMethod(instance_name, "split", "si", ".", 1));
        return parts ? Ref::steal(PySequence_GetItem(parts.get(), 0)) : Ref();
    }
    const Py_ssize_t length = PyUnicode_GetLength(instance_name);
    const Py_ssize_t dot = PyUnicode_FindChar(instance_name, '.', 0, length, 1);
    if (dot == -2) return {};
    if (dot == -1 && PyUnicode_CheckExact(instance_name)) return Ref::borrow(instance_name);
    return Ref::steal(PyUnicode_Substring(instance_name, 0, dot == -1 ? length : dot));
}

}  // namespace zz::manager
