#include "executor/host.hpp"

namespace zz::executor::host {

bool intern(std::initializer_list<Interned*> names) {
    for (Interned* n : names) {
        if (n->get() == nullptr) return false;
    }
    return true;
}

PyObject* Keywords::tuple() noexcept {
    if (tuple_ == nullptr) {
        Ref t = Ref::steal(PyTuple_New(size()));
        if (!t) return nullptr;
        for (Py_ssize_t i = 0; i < size(); ++i) {
            PyObject* s = PyUnicode_InternFromString(names_[i]);
            if (s == nullptr) return nullptr;
            PyTuple_SET_ITEM(t.get(), i, s);
        }
        tuple_ = t.release();  // kept for the life of the process
    }
    return tuple_;
}

Ref lookup(PyObject* mapping, PyObject* key) {
    if (PyDict_CheckExact(mapping)) return Ref::borrow(PyDict_GetItemWithError(mapping, key));
    const int present = PySequence_Contains(mapping, key);
    if (present <= 0) return {};
    return Ref::steal(PyObject_GetItem(mapping, key));
}

Ref keys(PyObject* mapping) {
    if (PyDict_CheckExact(mapping)) return Ref::steal(PyDict_Keys(mapping));
    return Ref::steal(PySequence_List(mapping));
}

bool unpack(PyObject* value, std::span<Ref> out) {
    const Py_ssize_t expected = static_cast<Py_ssize_t>(out.size());
    if (PyTuple_CheckExact(value) && PyTuple_GET_SIZE(value) == expected) {
        for (Py_ssize_t i = 0; i < expected; ++i) out[i] = Ref::borrow(PyTuple_GET_ITEM(value, i));
        return true;
    }
    if (Py_TYPE(value)->tp_iter == nullptr && !PySequence_Check(value)) {
        PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(value)->tp_name);
        return false;
    }
    Ref iterator = Ref::steal(PyObject_GetIter(value));
    if (!iterator) return false;
    for (Py_ssize_t i = 0; i < expected; ++i) {
        out[i] = Ref::steal(PyIter_Next(iterator.get()));
        if (!out[i]) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zd, got %zd)", expected, i);
            }
            return false;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(iterator.get()));
    if (extra) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
        return false;
    }
    return !PyErr_Occurred();
}

}  // namespace zz::executor::host
