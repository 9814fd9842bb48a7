// The operations the manager calls on executors and on itself, always as
// Python-level method calls (frame/python.hpp), so that subclasses, patched
// class attributes and foreign objects placed into a registry take part.
#pragma once
#include <Python.h>

#include "frame/python.hpp"

namespace zz::manager {

// The operations the manager calls by name.
namespace op {
inline Interned get_executor{"_get_executor"};
inline Interned deactivate_template{"deactivate_template"};
inline Interned from_builtin{"from_builtin"};
inline Interned from_file{"from_file"};
inline Interned from_string{"from_string"};
inline Interned create_and_activate{"create_and_activate"};
inline Interned activate{"activate"};
inline Interned deactivate{"deactivate"};
inline Interned deactivate_all{"deactivate_all"};
inline Interned list_active{"list_active"};
inline Interned get_active_summary{"get_active_summary"};
inline Interned get_template_variables{"get_template_variables"};
inline Interned validate_template_args{"validate_template_args"};
inline Interned populate_template{"populate_template"};
inline Interned state_update{"state_update"};
inline Interned score_get{"score_get"};
inline Interned score_summary{"score_summary"};
inline Interned get_comprehensive_metadata{"get_comprehensive_metadata"};
inline Interned get_template_debug_info{"get_template_debug_info"};
inline Interned clear{"clear"};
inline Interned get_all_active_templates_comprehensive{"get_all_active_templates_comprehensive"};
inline Interned get_template_info{"get_template_info"};
}  // namespace op

}  // namespace zz::manager
