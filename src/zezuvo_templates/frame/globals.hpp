// Names the module body imports, looked up in the module namespace at the
// moment of use (as a Python module's globals are), so that patching
// "brevant.zezuvo_templates.<name>" takes effect.  `is_original` lets hot
// paths keep a C++ fast path while the name still holds what the body bound.
#pragma once
#include <Python.h>

#include "ref.hpp"

namespace zz::globals {

enum class Name : unsigned char {
    hashlib,
    os,
    time,
    dataclass,
    field,
    datetime,
    Path,
    Any,
    Literal,
    jinja2,
    BaseLoader,
    Environment,
    Template,
    meta,
    ZeZuvoRuntime,
    PredicateId,
    ZeZuvoDSLLoader,
    // The module's own module-wide objects, looked up the same way.
    template_cache,
    BUILTIN_TEMPLATES,
    Count,
};

// The module's namespace (borrowed; valid once the body started running).
PyObject* namespace_dict();
void set_namespace(PyObject* dict);

// Binds `value` under the name in the namespace and remembers it as the original.
bool bind(Name name, PyObject* value);

// The name's current value (new reference); NameError when it was deleted.
Ref get(Name name);

bool is_original(Name name, PyObject* current);

// Forgets the originals after a failed load, so a new load starts afresh.
void reset();

}  // namespace zz::globals
