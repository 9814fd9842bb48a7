// brevant.zezuvo: a small, real stand-in for the external predicate runtime.
// It keeps predicates in memory so the template layer can be exercised
// without the real runtime installed.
#include <Python.h>

#include <cstdint>

#include "ref.hpp"

namespace {

using zz::Ref;

// Serials live in module state rather than in a C static so that each
// interpreter (and each module instance) keeps its own independent counter.
struct ModuleState {
    PyTypeObject* id_type;
    PyTypeObject* runtime_type;
    std::uint64_t next_serial;
};

extern PyModuleDef module_def;

ModuleState* state_for(PyTypeObject* type) {
    // Walks the MRO, so this also works for Python subclasses of the runtime.
    PyObject* module = PyType_GetModuleByDef(type, &module_def);
    return module ? static_cast<ModuleState*>(PyModule_GetState(module)) : nullptr;
}

// ---------------------------------------------------------------- PredicateId

struct PredicateId {
    PyObject_HEAD
    std::uint64_t serial;
    PyObject* name;
};

PredicateId* as_id(PyObject* o) { return reinterpret_cast<PredicateId*>(o); }

void id_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    Py_XDECREF(as_id(self)->name);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject* id_repr(PyObject* self) {
    return PyUnicode_FromFormat("PredicateId(%llu, %R)", static_cast<unsigned long long>(as_id(self)->serial),
                                as_id(self)->name);
}

Py_hash_t id_hash(PyObject* self) {
    // Matches hash(serial) for every serial a process can realistically reach.
    auto h = static_cast<Py_hash_t>(as_id(self)->serial & 0x0FFFFFFFFFFFFFFFULL);
    return h == -1 ? -2 : h;
}

PyObject* id_richcompare(PyObject* self, PyObject* other, int op) {
    // Ids are opaque: only identity-of-serial comparisons make sense.
    if (Py_TYPE(other) != Py_TYPE(self) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
    bool equal = as_id(self)->serial == as_id(other)->serial;
    return PyBool_FromLong(equal == (op == Py_EQ));
}

PyObject* id_get_serial(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(as_id(self)->serial); }

PyObject* id_get_name(PyObject* self, void*) { return Py_NewRef(as_id(self)->name); }

// Immutable, so copies may share the one object (keeps copy/deepcopy of
// containers of ids working even though ids cannot be built from Python).
PyObject* id_copy(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyGetSetDef id_getset[] = {
    {"serial", id_get_serial, nullptr, "Unique serial number of the predicate.", nullptr},
    {"name", id_get_name, nullptr, "Name the predicate was created with.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef id_methods[] = {
    {"__copy__", id_copy, METH_NOARGS, nullptr},
    {"__deepcopy__", id_copy, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot id_slots[] = {
    {Py_tp_doc, const_cast<char*>("Opaque, immutable identifier of a predicate held by a ZeZuvoRuntime.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(id_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(id_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(id_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(id_richcompare)},
    {Py_tp_getset, id_getset},
    {Py_tp_methods, id_methods},
    {0, nullptr},
};

PyType_Spec id_spec = {
    "brevant.zezuvo.PredicateId",
    sizeof(PredicateId),
    0,
    // Ids only come from a runtime, which is what keeps serials unique.
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    id_slots,
};

// ------------------------------------------------------------- ZeZuvoRuntime

// Entries map PredicateId -> (name, kind, definition, active). A dict keeps
// creation order, and since ids hash and compare in C, no lookup can run
// Python code. Nothing user-visible is reachable from it, so no cycles can
// form through it and the type needs no GC support of its own.
struct Runtime {
    PyObject_HEAD
    PyObject* entries;
};

Runtime* as_runtime(PyObject* o) { return reinterpret_cast<Runtime*>(o); }

enum Field : Py_ssize_t { kName, kKind, kDefinition, kActive };

PyObject* runtime_new(PyTypeObject* type, PyObject*, PyObject*) {
    // Arguments are left to __init__ so subclasses may define their own.
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    as_runtime(self.get())->entries = PyDict_New();
    return as_runtime(self.get())->entries ? self.release() : nullptr;
}

int runtime_init(PyObject*, PyObject* args, PyObject* kwds) {
    if (PyTuple_GET_SIZE(args) != 0 || (kwds && PyDict_GET_SIZE(kwds) != 0)) {
        PyErr_SetString(PyExc_TypeError, "ZeZuvoRuntime() takes no arguments");
        return -1;
    }
    return 0;
}

void runtime_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    Py_XDECREF(as_runtime(self)->entries);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// Borrowed entry for `key`, or null without an exception when not held.
// Anything that is not a PredicateId is simply "not held", which also keeps
// arbitrary __hash__/__eq__ code out of the lookup.
PyObject* find_entry(PyObject* self, PyObject* key, bool* failed) {
    *failed = false;
    ModuleState* st = state_for(Py_TYPE(self));
    if (!st) {
        *failed = true;
        return nullptr;
    }
    if (Py_TYPE(key) != st->id_type) return nullptr;
    return PyDict_GetItemWithError(as_runtime(self)->entries, key);
}

PyObject* entry_or_keyerror(PyObject* self, PyObject* key) {
    bool failed;
    PyObject* entry = find_entry(self, key, &failed);
    if (!entry && !failed && !PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key);
    return entry;
}

PyObject* runtime_create_predicate(PyObject* self, PyObject* args, PyObject* kwds) {
    static const char* kwlist[] = {"name", "kind", "definition", "active", nullptr};
    PyObject *name, *kind, *definition;
    int active;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "UUUp:create_predicate", const_cast<char**>(kwlist), &name, &kind,
                                     &definition, &active))
        return nullptr;
    if (PyUnicode_CompareWithASCIIString(kind, "rule") != 0 && PyUnicode_CompareWithASCIIString(kind, "flow") != 0) {
        PyErr_Format(PyExc_ValueError, "kind must be 'rule' or 'flow', not %R", kind);
        return nullptr;
    }
    ModuleState* st = state_for(Py_TYPE(self));
    if (!st) return nullptr;
    Ref entry = Ref::steal(PyTuple_Pack(4, name, kind, definition, active ? Py_True : Py_False));
    Ref id = entry ? Ref::steal(st->id_type->tp_alloc(st->id_type, 0)) : Ref();
    if (!id) return nullptr;
    as_id(id.get())->serial = ++st->next_serial;
    as_id(id.get())->name = Py_NewRef(name);
    if (PyDict_SetItem(as_runtime(self)->entries, id.get(), entry.get()) < 0) return nullptr;
    return id.release();
}

PyObject* runtime_remove(PyObject* self, PyObject* key) {
    bool failed;
    PyObject* entry = find_entry(self, key, &failed);
    if (!entry) return (failed || PyErr_Occurred()) ? nullptr : Py_NewRef(Py_False);
    if (PyDict_DelItem(as_runtime(self)->entries, key) < 0) return nullptr;
    Py_RETURN_TRUE;
}

PyObject* runtime_predicates(PyObject* self, PyObject*) { return PyDict_Keys(as_runtime(self)->entries); }

PyObject* runtime_is_active(PyObject* self, PyObject* key) {
    PyObject* entry = entry_or_keyerror(self, key);
    return entry ? Py_NewRef(PyTuple_GET_ITEM(entry, kActive)) : nullptr;
}

PyObject* runtime_describe(PyObject* self, PyObject* key) {
    PyObject* entry = entry_or_keyerror(self, key);
    if (!entry) return nullptr;
    return Py_BuildValue("{sOsOsOsO}", "name", PyTuple_GET_ITEM(entry, kName), "kind", PyTuple_GET_ITEM(entry, kKind),
                         "definition", PyTuple_GET_ITEM(entry, kDefinition), "active",
                         PyTuple_GET_ITEM(entry, kActive));
}

Py_ssize_t runtime_len(PyObject* self) { return PyDict_GET_SIZE(as_runtime(self)->entries); }

int runtime_contains(PyObject* self, PyObject* key) {
    bool failed;
    PyObject* entry = find_entry(self, key, &failed);
    return entry ? 1 : (failed || PyErr_Occurred()) ? -1 : 0;
}

PyObject* runtime_repr(PyObject* self) {
    return PyUnicode_FromFormat("<%s with %zd predicates>", Py_TYPE(self)->tp_name, runtime_len(self));
}

PyMethodDef runtime_methods[] = {
    {"create_predicate", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(runtime_create_predicate)),
     METH_VARARGS | METH_KEYWORDS,
     "create_predicate($self, /, name, kind, definition, active)\n--\n\n"
     "Add a predicate and return its PredicateId; kind is 'rule' or 'flow', active is taken by truth value."},
    {"remove", runtime_remove, METH_O,
     "remove($self, predicate_id, /)\n--\n\nTrue if the predicate was held and is now removed, False otherwise."},
    {"predicates", runtime_predicates, METH_NOARGS, "predicates($self, /)\n--\n\nThe held PredicateIds, in creation order, as a new list."},
    {"is_active", runtime_is_active, METH_O, "is_active($self, predicate_id, /)\n--\n\nWhether the predicate is active; KeyError if not held."},
    {"describe", runtime_describe, METH_O,
     "describe($self, predicate_id, /)\n--\n\nA dict with name, kind, definition, active; KeyError if not held."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot runtime_slots[] = {
    {Py_tp_doc, const_cast<char*>("ZeZuvoRuntime()\n--\n\nIn-memory stand-in for the predicate runtime.")},
    {Py_tp_new, reinterpret_cast<void*>(runtime_new)},
    {Py_tp_init, reinterpret_cast<void*>(runtime_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(runtime_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(runtime_repr)},
    {Py_tp_methods, runtime_methods},
    {Py_sq_length, reinterpret_cast<void*>(runtime_len)},
    {Py_sq_contains, reinterpret_cast<void*>(runtime_contains)},
    {0, nullptr},
};

PyType_Spec runtime_spec = {
    "brevant.zezuvo.ZeZuvoRuntime",
    sizeof(Runtime),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    runtime_slots,
};

// -------------------------------------------------------------------- module

int add_type(PyObject* module, PyType_Spec* spec, PyTypeObject** slot) {
    *slot = reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, spec, nullptr));
    return *slot && PyModule_AddType(module, *slot) == 0 ? 0 : -1;
}

int module_exec(PyObject* module) {
    auto* st = static_cast<ModuleState*>(PyModule_GetState(module));
    st->next_serial = 0;
    if (add_type(module, &id_spec, &st->id_type) < 0) return -1;
    return add_type(module, &runtime_spec, &st->runtime_type);
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
    auto* st = static_cast<ModuleState*>(PyModule_GetState(module));
    if (st) {
        Py_VISIT(st->id_type);
        Py_VISIT(st->runtime_type);
    }
    return 0;
}

int module_clear(PyObject* module) {
    auto* st = static_cast<ModuleState*>(PyModule_GetState(module));
    if (st) {
        Py_CLEAR(st->id_type);
        Py_CLEAR(st->runtime_type);
    }
    return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "brevant.zezuvo",
    "In-memory stand-in for the external predicate runtime.",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

PyMODINIT_FUNC PyInit_zezuvo(void) { return PyModuleDef_Init(&module_def); }
