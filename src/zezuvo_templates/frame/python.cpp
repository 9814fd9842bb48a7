#include "frame/python.hpp"

namespace zz {

bool intern(std::initializer_list<Interned*> names) {
    for (Interned* n : names) {
        if (n->get() == nullptr) return false;
    }
    return true;
}

PyObject* KeywordNames::tuple() {
    if (tuple_ == nullptr) {
        const Py_ssize_t n = static_cast<Py_ssize_t>(size());
        Ref t = Ref::steal(PyTuple_New(n));
        if (!t) return nullptr;
        for (Py_ssize_t i = 0; i < n; ++i) {
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

Ref take_pending() {
#if PY_VERSION_HEX >= 0x030C0000
    return Ref::steal(PyErr_GetRaisedException());
#else
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    return Ref::steal(value);
#endif
}

void restore(Ref exc) {
    if (!exc) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc.release());
#else
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
    PyObject* tb = PyException_GetTraceback(exc.get());
    PyErr_Restore(type, exc.release(), tb);
#endif
}

void chain_pending(Ref context) {
    Ref raised = take_pending();
    if (raised && context && context.get() != raised.get()) {
        PyException_SetContext(raised.get(), context.release());
    }
    restore(raised ? std::move(raised) : std::move(context));
}

void raise_with_context(PyObject* type, PyObject* message, Ref context) {
    if (message != nullptr) restore(Ref::steal(PyObject_CallOneArg(type, message)));
    chain_pending(std::move(context));
}

}  // namespace zz
