// Python-level protocols that the executor's operations share: method calls
// by name (so subclasses, patched class attributes and foreign objects behave
// as in Python), lookups in the instance and event tables (which a caller may
// have replaced), and unpacking of results as an assignment does it.
#pragma once
#include <Python.h>

#include <initializer_list>
#include <span>

#include "ref.hpp"

namespace zz::executor::host {

// An interned string, made on first use and kept for the life of the process.
class Interned {
public:
    explicit constexpr Interned(const char* text) noexcept : text_(text) {}
    // False with an error set when the string cannot be made.
    bool make() noexcept {
        if (obj_ == nullptr) obj_ = PyUnicode_InternFromString(text_);
        return obj_ != nullptr;
    }
    // Only after make() succeeded.
    PyObject* ptr() const noexcept { return obj_; }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};

bool intern(std::initializer_list<Interned*> names);

// The keyword names of a call, made once.
class Keywords {
public:
    constexpr Keywords(const char* first, const char* second = nullptr) noexcept : names_{first, second} {}
    PyObject* tuple() noexcept;  // null with an error set on failure
    Py_ssize_t size() const noexcept { return names_[1] ? 2 : 1; }

private:
    const char* names_[2];
    PyObject* tuple_ = nullptr;
};

// receiver.name(*args); with `keywords`, the last of `args` are passed under those names.
Ref call_method(PyObject* receiver, Interned& name, std::initializer_list<PyObject*> args,
                Keywords* keywords = nullptr);

// mapping[key] when `key in mapping`, else null without an error.
Ref lookup(PyObject* mapping, PyObject* key);

// The keys of a mapping as a new list: a snapshot that callbacks cannot change.
Ref keys(PyObject* mapping);

// `a, b, ... = value`: exactly out.size() items of any iterable, with the host's messages.
bool unpack(PyObject* value, std::span<Ref> out);

}  // namespace zz::executor::host
