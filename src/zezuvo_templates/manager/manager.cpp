#include "manager/manager.hpp"

#include "frame/subsystems.hpp"

namespace zz::manager {

records::RecordType Manager;

namespace {

constexpr records::Field kFields[] = {
    {"zezuvo_runtime", "ZeZuvoRuntime"},
    {"_executors", "dict[str, ZeZuvoRuntimeTemplateExecutor]", records::Default::NewDict},
};

}  // namespace

bool define_manager(PyObject* namespace_dict) {
    const records::ClassSpec spec{
        "ZeZuvoMultiTemplateManager",
        "Manages many template executors under template names, with instances named "
        "\"template_name.instance_name\", delegated queries and system-wide reports.\n\nTemplates are never "
        "registered implicitly: use from_builtin(), from_file() or from_string() first.",
        kFields};
    if (!Manager.define(namespace_dict, spec)) return false;
    // Lookup and membership only: the manager is not an iterable map.
    if (PyObject_SetAttrString(Manager.type_object(), "__iter__", Py_None) < 0) return false;
    for (auto methods : {registry_methods(), activation_methods(), query_methods(), report_methods()}) {
        if (!boundary::attach(Manager.type(), methods)) return false;
    }
    return true;
}

}  // namespace zz::manager
