// Python-level protocols shared by every subsystem: interned names, method
// calls made as Python makes them (looked up on the object at call time, so
// subclasses, patched class attributes and foreign objects take part),
// mapping lookups, unpacking, and raising one error in the context of another.
#pragma once
#include <Python.h>

#include <initializer_list>
#include <span>

#include "ref.hpp"

namespace zz {

// A name interned on first use and kept for the life of the process; null
// (with an error set) only if making it failed.
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

// Makes every name at once; false with an error set when one cannot be made.
bool intern(std::initializer_list<Interned*> names);

// The keyword names of a call, as the tuple vectorcall takes, made once.
class KeywordNames {
public:
    explicit constexpr KeywordNames(const char* first, const char* second = nullptr) : names_{first, second} {}
    PyObject* tuple();  // null with an error set on failure
    std::size_t size() const { return names_[1] != nullptr ? 2 : 1; }

private:
    const char* names_[2];
    PyObject* tuple_ = nullptr;
};

// receiver.<name>(args...).  The spare slot in front of the receiver lets a
// bound-method callee prepend its own without copying (ARGUMENTS_OFFSET).
template <typename... A>
Ref call_method(PyObject* receiver, Interned& name, A... args) {
    PyObject* n = name.get();
    if (n == nullptr) return {};
    PyObject* stack[] = {nullptr, receiver, args...};
    return Ref::steal(PyObject_VectorcallMethod(n, stack + 1, (sizeof...(A) + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                nullptr));
}

// receiver.<name>(...), the last keywords.size() of `args` passed under those names.
template <typename... A>
Ref call_method_kw(PyObject* receiver, Interned& name, KeywordNames& keywords, A... args) {
    static_assert(sizeof...(A) >= 1);
    PyObject* n = name.get();
    PyObject* kwnames = n != nullptr ? keywords.tuple() : nullptr;
    if (kwnames == nullptr) return {};
    PyObject* stack[] = {nullptr, receiver, args...};
    const std::size_t positional = sizeof...(A) + 1 - keywords.size();
    return Ref::steal(
        PyObject_VectorcallMethod(n, stack + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

// mapping[key] when `key in mapping`, else null without an error.
Ref lookup(PyObject* mapping, PyObject* key);

// The keys of a mapping as a new list: a snapshot that callbacks cannot change.
Ref keys(PyObject* mapping);

// `a, b, ... = value`: exactly out.size() items of any iterable, with the host's messages.
bool unpack(PyObject* value, std::span<Ref> out);

// Takes the pending exception (normalised, traceback attached) and clears it.
Ref take_pending();

// Makes `exc` the pending exception again, unchanged (no implicit chaining).
void restore(Ref exc);

// Gives the pending exception `context` as its __context__: an error raised
// while another was being handled, as in an except block.
void chain_pending(Ref context);

// Raises type(message) with `context` as its __context__, as a raise inside
// an except block does.  A null message means making it failed (error set):
// that error is raised instead, with the same context.
void raise_with_context(PyObject* type, PyObject* message, Ref context);

}  // namespace zz
