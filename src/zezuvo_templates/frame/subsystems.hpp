// What each subsystem contributes to the module body, called in this order.
#pragma once
#include <Python.h>

namespace zz {

namespace records {
bool define_all(PyObject* namespace_dict);  // the twenty record types
}
namespace templates {
bool define_template_cache(PyObject* namespace_dict);  // TemplateCache and _template_cache
bool define_builtin_templates(PyObject* namespace_dict);  // BUILTIN_TEMPLATES
}
namespace executor {
bool define_executor(PyObject* namespace_dict);  // ZeZuvoRuntimeTemplateExecutor
}
namespace arguments {
bool define_builders(PyObject* namespace_dict, PyObject* module_name);
}
namespace manager {
bool define_manager(PyObject* namespace_dict);  // ZeZuvoMultiTemplateManager
}

}  // namespace zz
