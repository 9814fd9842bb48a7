// Python-level protocols the lifecycle operations add to executor/support.hpp:
// method calls with keyword arguments, lookups in the instance and event
// tables (which a caller may have replaced with another mapping), and
// unpacking of results as an assignment does it.
#pragma once
#include <Python.h>

#include <initializer_list>
#include <span>

#include "executor/support.hpp"
#include "ref.hpp"

namespace zz::executor::host {

// Makes every name at once; false with an error set when one cannot be made.
bool intern(std::initializer_list<Interned*> names);

// The keyword names of a call, as the tuple vectorcall takes, made once.
class Keywords {
public:
    explicit constexpr Keywords(const char* first, const char* second = nullptr) noexcept : names_{first, second} {}
    PyObject* tuple() noexcept;  // null with an error set on failure
    Py_ssize_t size() const noexcept { return names_[1] != nullptr ? 2 : 1; }

private:
    const char* names_[2];
    PyObject* tuple_ = nullptr;
};

// receiver.<name>(...), the last keywords.size() of `args` passed under those names.
template <typename... A>
Ref call_method(PyObject* receiver, Interned& name, Keywords& keywords, A... args) {
    static_assert(sizeof...(A) >= 1);
    PyObject* n = name.get();
    PyObject* kwnames = n != nullptr ? keywords.tuple() : nullptr;
    if (kwnames == nullptr) return {};
    PyObject* stack[] = {receiver, args...};
    const std::size_t positional = sizeof...(A) + 1 - static_cast<std::size_t>(keywords.size());
    return Ref::steal(PyObject_VectorcallMethod(n, stack, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

// mapping[key] when `key in mapping`, else null without an error.
Ref lookup(PyObject* mapping, PyObject* key);

// The keys of a mapping as a new list: a snapshot that callbacks cannot change.
Ref keys(PyObject* mapping);

// `a, b, ... = value`: exactly out.size() items of any iterable, with the host's messages.
bool unpack(PyObject* value, std::span<Ref> out);

}  // namespace zz::executor::host
