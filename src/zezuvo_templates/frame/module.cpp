// Module entry: multi-phase initialisation and the module body.
#include <Python.h>

#include <cstdint>
#include <initializer_list>

#include "frame/clock.hpp"
#include "frame/globals.hpp"
#include "frame/subsystems.hpp"
#include "ref.hpp"

namespace zz {
namespace {

using globals::Name;

constexpr const char* kFullName = "brevant.zezuvo_templates";

const char kModuleDoc[] =
    "ZeZuvo Template System for parameterized DSL generation with performance tracking.\n"
    "\n"
    "Render Jinja2 templates into ZeZuvo rule text, load it into a ZeZuvoRuntime and\n"
    "keep track of what each activation created and how it performs.\n"
    "\n"
    "Single template:\n"
    "    runtime = ZeZuvoRuntime()\n"
    "    executor = ZeZuvoRuntimeTemplateExecutor.from_builtin(runtime, \"algo_flipper.dsl\")\n"
    "    args = create_template_args_for_algo_flipper(\"MNQ\", \"/NQM5\", \"/MNQ\", \"MNQ\", 35,\n"
    "                                                 \"temathma-5x-12x-vwap\", 1)\n"
    "    executor.create_and_activate(\"mnq_fast\", args)\n"
    "    executor.state_update(\"mnq_fast\", {\"profit\": 150.0, \"win\": True})\n"
    "    executor.score_summary(\"mnq_fast\")\n"
    "    executor.deactivate(\"mnq_fast\")\n"
    "\n"
    "Many templates:\n"
    "    manager = ZeZuvoMultiTemplateManager(runtime)\n"
    "    manager.from_builtin(\"algo_flipper.dsl\")          # registered as \"algo_flipper\"\n"
    "    manager.activate(\"algo_flipper\", \"mnq_fast\", args)  # instance \"algo_flipper.mnq_fast\"\n"
    "    manager.state_update(\"algo_flipper\", \"mnq_fast\", {\"profit\": -25.0, \"win\": False})\n"
    "    manager.get_system_health_report()\n"
    "    manager.deactivate_all()\n";

std::int64_t g_interpreter_id = -1;  // the interpreter of the first create step
PyObject* g_module = nullptr;        // set once a load succeeded

// `from <module> import <names>` (level 1: relative to the package), binding each name.
bool import_from(const char* module, int level, std::initializer_list<Name> names,
                 std::initializer_list<const char*> texts) {
    PyObject* ns = globals::namespace_dict();
    Ref fromlist = Ref::steal(PyList_New(0));
    if (!fromlist) return false;
    for (const char* text : texts) {
        Ref s = Ref::steal(PyUnicode_FromString(text));
        if (!s || PyList_Append(fromlist.get(), s.get()) < 0) return false;
    }
    Ref mod = Ref::steal(PyImport_ImportModuleLevel(module, ns, nullptr, fromlist.get(), level));
    if (!mod) return false;
    auto name = names.begin();
    for (const char* text : texts) {
        Ref value = Ref::steal(PyObject_GetAttrString(mod.get(), text));
        if (!value) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
            PyErr_Clear();
            // A submodule that is already loaded counts, as for `from x import y`.
            Ref modname = Ref::steal(PyObject_GetAttrString(mod.get(), "__name__"));
            Ref full = modname ? Ref::steal(PyUnicode_FromFormat("%U.%s", modname.get(), text)) : Ref();
            if (!full) return false;
            value = Ref::borrow(PyDict_GetItemWithError(PyImport_GetModuleDict(), full.get()));
            if (!value) {
                if (!PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "cannot import name %s", text);
                return false;
            }
        }
        if (!globals::bind(*name++, value.get())) return false;
    }
    return true;
}

// `import <module>`.
bool import_module(const char* module, Name name) {
    Ref mod = Ref::steal(PyImport_ImportModuleLevel(module, globals::namespace_dict(), nullptr, nullptr, 0));
    return mod && globals::bind(name, mod.get());
}

bool run_body(PyObject* module) {
    PyObject* ns = PyModule_GetDict(module);
    globals::set_namespace(ns);
    Ref module_name = Ref::steal(PyUnicode_FromString(kFullName));
    return module_name && import_module("hashlib", Name::hashlib) && import_module("os", Name::os) &&
           import_module("time", Name::time) &&
           import_from("dataclasses", 0, {Name::dataclass, Name::field}, {"dataclass", "field"}) &&
           import_from("datetime", 0, {Name::datetime}, {"datetime"}) && clock::init() &&
           import_from("pathlib", 0, {Name::Path}, {"Path"}) &&
           import_from("typing", 0, {Name::Any, Name::Literal}, {"Any", "Literal"}) &&
           import_module("jinja2", Name::jinja2) &&
           import_from("jinja2", 0, {Name::BaseLoader, Name::Environment, Name::Template, Name::meta},
                       {"BaseLoader", "Environment", "Template", "meta"}) &&
           import_from("zezuvo", 1, {Name::ZeZuvoRuntime, Name::PredicateId}, {"ZeZuvoRuntime", "PredicateId"}) &&
           import_from("zezuvo_dsl", 1, {Name::ZeZuvoDSLLoader}, {"ZeZuvoDSLLoader"}) &&
           records::define_all(ns) && templates::define_template_cache(ns) && executor::define_executor(ns) &&
           templates::define_builtin_templates(ns) && arguments::define_builders(ns, module_name.get()) &&
           manager::define_manager(ns);
}

// Copies spec.<attr> to module.<target>; a missing attribute is skipped.
bool copy_spec_attr(PyObject* spec, PyObject* module, const char* attr, const char* target, bool allow_none) {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, attr));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        return true;
    }
    if (value.get() == Py_None && !allow_none) return true;
    return PyObject_SetAttrString(module, target, value.get()) == 0;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g_interpreter_id == -1) {
        g_interpreter_id = current;
    } else if (g_interpreter_id != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per "
                        "process.");
        return nullptr;
    }
    if (g_module != nullptr) return Py_NewRef(g_module);

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module || !copy_spec_attr(spec, module.get(), "loader", "__loader__", true) ||
        !copy_spec_attr(spec, module.get(), "origin", "__file__", true) ||
        !copy_spec_attr(spec, module.get(), "parent", "__package__", true) ||
        !copy_spec_attr(spec, module.get(), "submodule_search_locations", "__path__", false)) {
        return nullptr;
    }
    return module.release();
}

int exec_module(PyObject* module) {
    if (g_module != nullptr) {
        if (module == g_module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'zezuvo_templates' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    const int runtime_major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int runtime_minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (runtime_major != PY_MAJOR_VERSION || runtime_minor != PY_MINOR_VERSION) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                             "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                             PY_MAJOR_VERSION, PY_MINOR_VERSION, kFullName, "does not match", runtime_major,
                             runtime_minor) < 0) {
            return -1;
        }
    }
    PyObject* modules = PyImport_GetModuleDict();
    Ref full_name = Ref::steal(PyUnicode_FromString(kFullName));
    if (!full_name) return -1;
    const int present = PyDict_Contains(modules, full_name.get());
    if (present < 0 || (present == 0 && PyDict_SetItemString(modules, kFullName, module) < 0)) return -1;

    if (!run_body(module)) {
        globals::reset();
        return -1;
    }
    g_module = Py_NewRef(module);
    return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_create, reinterpret_cast<void*>(&create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT, "zezuvo_templates", kModuleDoc, 0, nullptr, kSlots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace zz

PyMODINIT_FUNC PyInit_zezuvo_templates() { return PyModuleDef_Init(&zz::kModuleDef); }
