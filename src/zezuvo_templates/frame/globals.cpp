#include "frame/globals.hpp"

#include <array>

namespace zz::globals {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(Name::Count)> kNames = {
    "hashlib",     "os",       "time",          "dataclass",   "field",           "datetime",
    "Path",        "Any",      "Literal",       "jinja2",      "BaseLoader",      "Environment",
    "Template",    "meta",     "ZeZuvoRuntime", "PredicateId", "ZeZuvoDSLLoader", "_template_cache", "BUILTIN_TEMPLATES",
};

struct Bound {
    PyObject* key = nullptr;       // interned name
    PyObject* original = nullptr;  // what the module body bound
};

std::array<Bound, kNames.size()> g_bound;
PyObject* g_namespace = nullptr;

Bound& entry(Name name) { return g_bound[static_cast<std::size_t>(name)]; }

}  // namespace

PyObject* namespace_dict() { return g_namespace; }

void set_namespace(PyObject* dict) {
    Py_XINCREF(dict);
    Py_XSETREF(g_namespace, dict);
}

bool bind(Name name, PyObject* value) {
    Bound& b = entry(name);
    if (b.key == nullptr) {
        b.key = PyUnicode_InternFromString(kNames[static_cast<std::size_t>(name)]);
        if (b.key == nullptr) return false;
    }
    if (PyDict_SetItem(g_namespace, b.key, value) < 0) return false;
    Py_INCREF(value);
    Py_XSETREF(b.original, value);
    return true;
}

Ref get(Name name) {
    const Bound& b = entry(name);
    PyObject* value = PyDict_GetItemWithError(g_namespace, b.key);
    if (value == nullptr && !PyErr_Occurred()) {
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", b.key);
    }
    return Ref::borrow(value);
}

bool is_original(Name name, PyObject* current) { return current == entry(name).original; }

void reset() {
    for (Bound& b : g_bound) Py_CLEAR(b.original);
    set_namespace(nullptr);
}

}  // namespace zz::globals
