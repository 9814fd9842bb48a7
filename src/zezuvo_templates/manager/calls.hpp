// Calls from the manager into executors (and into itself) made as Python
// does them: the method is looked up on the object at call time, so
// subclasses, patched class attributes and foreign objects placed into a
// registry behave as they would with a Python implementation.
#pragma once
#include <Python.h>

#include <array>
#include <initializer_list>

#include "ref.hpp"

namespace zz::manager {

// A name interned on first use and kept for the life of the process.
class InternedName {
public:
    explicit constexpr InternedName(const char* text) : text_(text) {}
    PyObject* get() {
        if (name_ == nullptr) name_ = PyUnicode_InternFromString(text_);
        return name_;
    }

private:
    const char* text_;
    PyObject* name_ = nullptr;
};

// The operations the manager calls by name.
namespace op {
inline InternedName get_executor{"_get_executor"};
inline InternedName deactivate_template{"deactivate_template"};
inline InternedName from_builtin{"from_builtin"};
inline InternedName from_file{"from_file"};
inline InternedName from_string{"from_string"};
inline InternedName create_and_activate{"create_and_activate"};
inline InternedName activate{"activate"};
inline InternedName deactivate{"deactivate"};
inline InternedName deactivate_all{"deactivate_all"};
inline InternedName list_active{"list_active"};
inline InternedName get_active_summary{"get_active_summary"};
inline InternedName get_template_variables{"get_template_variables"};
inline InternedName validate_template_args{"validate_template_args"};
inline InternedName populate_template{"populate_template"};
inline InternedName state_update{"state_update"};
inline InternedName score_get{"score_get"};
inline InternedName score_summary{"score_summary"};
inline InternedName get_all_active_metadata{"get_all_active_metadata"};
inline InternedName get_comprehensive_metadata{"get_comprehensive_metadata"};
inline InternedName get_template_debug_info{"get_template_debug_info"};
inline InternedName clear{"clear"};
}  // namespace op

// obj.<name>(*args); with `kwnames`, the last len(kwnames) args go by keyword.
inline Ref call_method(PyObject* obj, InternedName& name, std::initializer_list<PyObject*> args = {},
                       PyObject* kwnames = nullptr) {
    PyObject* method = name.get();
    if (method == nullptr) return {};
    // A spare slot in front lets a bound-method callee prepend its receiver without copying.
    std::array<PyObject*, 6> stack{nullptr, obj};
    std::size_t n = 1;
    for (PyObject* a : args) stack[1 + n++] = a;
    const std::size_t positional = n - (kwnames != nullptr ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0);
    return Ref::steal(
        PyObject_VectorcallMethod(method, stack.data() + 1, positional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

// The keyword-name tuple ("enable",), for calls that pass `enable` by keyword.
// Null with an error set when it cannot be made.
inline PyObject* enable_keyword() {
    static PyObject* names = nullptr;
    if (names == nullptr) names = Py_BuildValue("(s)", "enable");
    return names;
}

}  // namespace zz::manager
