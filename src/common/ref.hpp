// Owning handle around a PyObject*: one reference, released on scope exit,
// so that no early return on an error path can leak.
#pragma once
#include <Python.h>

#include <utility>

namespace zz {

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (may be null, as returned by a failing call).
    static Ref steal(PyObject* o) noexcept { return Ref(o); }
    // Adds a reference to a borrowed pointer.
    static Ref borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return Ref(o);
    }

    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    // Hands the reference to the caller (for returning from a C function).
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* o) noexcept : p_(o) {}
    PyObject* p_ = nullptr;
};

}  // namespace zz
