// The calling conventions of every public function and method, declared once.
//
// Each callable is a `Method`: its name, receiver, parameter list (name,
// declared kind, default) and documentation.  `entry<M>` is the one C entry
// point shape (METH_FASTCALL | METH_KEYWORDS) that parses the arguments
// according to M and hands the converted values to M's implementation, so
// argument counting, keyword matching, conversions and type tests live in a
// single parser instead of in every function.
#pragma once
#include <Python.h>

#include <array>
#include <span>

#include "frame/python.hpp"
#include "ref.hpp"

namespace zz::boundary {

// Declared kind of a parameter, in the order the parser treats them:
// conversions (Int, Float, Bool) first, then exact-type tests (Str, Dict).
enum class Kind : unsigned char {
    Any,          // not tested (runtime objects, paths, Any)
    Int,          // exact int kept; other numbers converted with int()
    IntOrNone,
    Float,        // exact float kept; other numbers converted with float()
    FloatOrNone,
    Bool,         // any value, by its truth value
    Str,          // exactly str
    StrOrNone,
    Dict,         // exactly dict
    DictOrNone,
};

enum class Default : unsigned char { Required, None, True, Text };

struct Param {
    const char* name;
    Kind kind = Kind::Any;
    Default def = Default::Required;
    const char* text = nullptr;  // the default value when def == Default::Text
};

// Who the receiver is; it counts as the first positional argument in messages.
enum class Receiver : unsigned char { None, Self, Class };

inline constexpr std::size_t kMaxParams = 12;

// Parsed arguments in parameter order; every slot is filled (defaults included).
class Args {
public:
    PyObject* operator[](std::size_t i) const noexcept { return values_[i].get(); }
    bool flag(std::size_t i) const noexcept { return values_[i].get() == Py_True; }
    bool is_none(std::size_t i) const noexcept { return values_[i].get() == Py_None; }
    Ref& slot(std::size_t i) noexcept { return values_[i]; }

private:
    std::array<Ref, kMaxParams> values_;
};

using Impl = PyObject* (*)(PyObject* receiver, const Args& args);

struct Method {
    const char* name;
    Receiver receiver;
    std::span<const Param> params;
    const char* doc;
    Impl impl;
};

// Parses and converts; on failure sets the exception and returns false.
bool parse(const Method& m, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out);

template <const Method& M>
PyObject* entry(PyObject* receiver, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Args parsed;
    if (!parse(M, args, PyVectorcall_NARGS(nargs), kwnames, parsed)) return nullptr;
    return M.impl(receiver, parsed);
}

struct Binding {
    const Method* method;
    PyObject* (*entry)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
};

template <const Method& M>
constexpr Binding bind() {
    return {&M, &entry<M>};
}

// Attaches methods (Receiver::Self) and class methods (Receiver::Class) to a
// finished class as real descriptors, with text signatures for inspect.
bool attach(PyTypeObject* cls, std::span<const Binding> methods);

// receiver.<name>(args...) for an instance method of our own classes.  While
// the receiver's type is exactly the class the method was attached to and
// that class's dictionary still holds the very descriptor attach() made, the
// entry point is called directly (the same parsing, without the attribute
// lookup and bound call); a subclass, a patched or deleted class attribute or
// a foreign receiver takes the Python-level call.
class OwnMethod {
public:
    using Entry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

    explicit constexpr OwnMethod(const char* name) : name_(name) {}

    template <typename... A>
    Ref operator()(PyObject* receiver, A... args) {
        if (Entry entry = direct(receiver)) {
            PyObject* const stack[] = {args..., nullptr};
            return Ref::steal(entry(receiver, stack, sizeof...(A), nullptr));
        }
        return call_method(receiver, name_, args...);
    }

private:
    Entry direct(PyObject* receiver);

    Interned name_;
    // The attachment last matched: the class, its descriptor and entry.
    PyTypeObject* cls_ = nullptr;
    PyObject* descr_ = nullptr;
    Entry entry_ = nullptr;
};

// A module-level function (Receiver::None) whose __module__ is the module's name.
Ref make_function(const Binding& b, PyObject* module_name);

// The boundary's incorrect-type TypeError, for checks made outside the parser.
void raise_incorrect_type(const char* parameter, const char* expected, PyObject* value);

}  // namespace zz::boundary
