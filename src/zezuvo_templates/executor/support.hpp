// Small helpers shared by the executor's operation files.
#pragma once
#include <Python.h>

#include "executor/executor.hpp"
#include "ref.hpp"

namespace zz::executor {

// An interned attribute or method name, created on first use and kept for the
// life of the process; null (with an error set) only if creating it failed.
class Interned {
public:
    explicit constexpr Interned(const char* text) : text_(text) {}
    PyObject* get() {
        if (obj_ == nullptr) obj_ = PyUnicode_InternFromString(text_);
        return obj_;
    }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};

// receiver.<name>(args...) as a Python-level call, so that subclasses and
// patched class attributes take part.
template <typename... A>
Ref call_method(PyObject* receiver, Interned& name, A... args) {
    PyObject* n = name.get();
    if (n == nullptr) return {};
    PyObject* stack[] = {receiver, args...};
    return Ref::steal(PyObject_VectorcallMethod(n, stack, (sizeof...(A) + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// Writes a field: the slot of an exact instance, setattr for anything else.
inline bool set_field(PyObject* obj, std::size_t field, PyObject* value) {
    if (Executor.is_exact(obj)) {
        Executor.put(obj, field, value);
        return true;
    }
    return PyObject_SetAttr(obj, Executor.field_name(field), value) == 0;
}

// Takes the pending exception (normalised, traceback attached) and clears it.
inline Ref take_pending() {
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

// Makes `exc` the pending exception again, unchanged (no implicit chaining).
inline void restore(Ref exc) {
    if (!exc) return;
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc.release());
#else
    PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
    PyObject* tb = PyException_GetTraceback(exc.get());
    PyErr_Restore(type, exc.release(), tb);
#endif
}

// Gives the pending exception `context` as its __context__: an error raised
// while another was being handled, as in an except block.
inline void chain_pending(Ref context) {
    Ref raised = take_pending();
    if (raised && context && context.get() != raised.get()) {
        PyException_SetContext(raised.get(), context.release());
    }
    restore(raised ? std::move(raised) : std::move(context));
}

// Raises type(message) with `context` as its __context__.  A null message
// means making it failed and that error is pending: it is raised instead.
inline void raise_with_context(PyObject* type, PyObject* message, Ref context) {
    if (message != nullptr) {
        Ref raised = Ref::steal(PyObject_CallOneArg(type, message));
        restore(std::move(raised));
    }
    chain_pending(std::move(context));
}

}  // namespace zz::executor
