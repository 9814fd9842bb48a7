#include "executor/executor.hpp"

#include "frame/globals.hpp"
#include "frame/subsystems.hpp"

namespace zz::executor {

records::RecordType Executor;

Ref new_environment() {
    Ref loader_type = globals::get(globals::Name::BaseLoader);
    Ref environment = loader_type ? globals::get(globals::Name::Environment) : Ref();
    Ref loader = environment ? Ref::steal(PyObject_CallNoArgs(loader_type.get())) : Ref();
    if (!loader) return {};
    Ref kwargs = Ref::steal(
        Py_BuildValue("{s:O,s:O,s:O}", "loader", loader.get(), "trim_blocks", Py_True, "lstrip_blocks", Py_True));
    Ref args = Ref::steal(PyTuple_New(0));
    if (!kwargs || !args) return {};
    return Ref::steal(PyObject_Call(environment.get(), args.get(), kwargs.get()));
}

namespace {

PyObject* environment_factory(PyObject*, PyObject*) { return new_environment().release(); }

PyObject* make_environment_factory() {
    static PyMethodDef def = {"_new_environment", environment_factory, METH_NOARGS,
                              "A new template environment for parsing an executor's template."};
    return PyCFunction_New(&def, nullptr);
}

using records::Default;
constexpr records::Field kFields[] = {
    {"zezuvo_runtime", "ZeZuvoRuntime"},
    {"template_source_id", "str"},
    {"jinja_env", "Environment", Default::Factory, true, make_environment_factory},
    {"_dsl_loader", "ZeZuvoDSLLoader", Default::Required, false},
    {"_template_content", "str", Default::Required, false},
    {"_template_vars", "set[str]", Default::NewSet, false},
    {"_compiled_template", "Template | None", Default::None, false},
    {"_active_templates", "dict[str, ActiveTemplate]", Default::NewDict},
    {"_performance_events", "dict[str, list[PerformanceEvent]]", Default::NewDict},
};

}  // namespace

bool define_executor(PyObject* namespace_dict) {
    const records::ClassSpec spec{
        "ZeZuvoRuntimeTemplateExecutor",
        "Executes one template against a ZeZuvoRuntime: renders it into rule text, activates named instances, "
        "tracks their performance and describes them.\n\nCreate executors with from_builtin(), from_file() or "
        "from_string().",
        kFields, true};
    if (!Executor.define(namespace_dict, spec)) return false;
    for (auto methods : {construction_methods(), rendering_methods(), activation_methods(), performance_methods(),
                         metadata_methods()}) {
        if (!boundary::attach(Executor.type(), methods)) return false;
    }
    return true;
}

}  // namespace zz::executor
