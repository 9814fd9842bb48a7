#include "executor/executor.hpp"
#include "manager/calls.hpp"
#include "manager/manager.hpp"
#include "manager/names.hpp"
#include "manager/registry.hpp"
#include "records/records.hpp"

namespace zz::manager {
namespace {

using boundary::Default;
using boundary::Kind;
using boundary::Param;
using boundary::Receiver;

// executor.<operation>(full_instance_name, text_or_args, enable=enable) on
// the executor found by the manager's _get_executor.
PyObject* activate_with(PyObject* self, const boundary::Args& a, Interned& operation) {
    Ref executor = get_executor(self, a[0]);
    Ref full = executor ? full_instance_name(a[0], a[1]) : Ref();
    if (!full) return nullptr;
    static KeywordNames enable{"enable"};
    return call_method_kw(executor.get(), operation, enable, full.get(), a[2], a[3]).release();
}

PyObject* activate(PyObject* self, const boundary::Args& a) {
    return activate_with(self, a, op::create_and_activate);
}

PyObject* activate_from_populated_dsl(PyObject* self, const boundary::Args& a) {
    return activate_with(self, a, op::activate);
}

PyObject* deactivate(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found <= 0) return found < 0 ? nullptr : Py_NewRef(Py_False);
    Ref full = full_instance_name(a[0], a[1]);
    return full ? call_method(executor.get(), op::deactivate, full.get()).release() : nullptr;
}

PyObject* deactivate_template(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found <= 0) return found < 0 ? nullptr : PyLong_FromLong(0);
    return call_method(executor.get(), op::deactivate_all).release();
}

PyObject* deactivate_all(PyObject* self, const boundary::Args&) {
    Ref executors = executors_snapshot(self);
    Ref total = executors ? Ref::steal(PyLong_FromLong(0)) : Ref();
    if (!total) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(executors.get()); ++i) {
        Ref count = call_method(PyList_GET_ITEM(executors.get(), i), op::deactivate_all);
        if (!count) return nullptr;
        total = Ref::steal(PyNumber_Add(total.get(), count.get()));
        if (!total) return nullptr;
    }
    return total.release();
}

// Appends every item of `items` (any iterable) to `list`.
bool extend(PyObject* list, PyObject* items) {
    Ref it = Ref::steal(PyObject_GetIter(items));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        if (PyList_Append(list, item.get()) < 0) return false;
    }
    return !PyErr_Occurred();
}

PyObject* list_all_active(PyObject* self, const boundary::Args&) {
    Ref executors = executors_snapshot(self);
    Ref names = executors ? Ref::steal(PyList_New(0)) : Ref();
    if (!names) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(executors.get()); ++i) {
        Ref active = call_method(PyList_GET_ITEM(executors.get(), i), op::list_active);
        if (!active || !extend(names.get(), active.get())) return nullptr;
    }
    return names.release();
}

PyObject* list_active_for_template(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found <= 0) return found < 0 ? nullptr : PyList_New(0);
    return call_method(executor.get(), op::list_active).release();
}

PyObject* get_active_summary(PyObject* self, const boundary::Args&) {
    Ref executors = executors_snapshot(self);
    Ref summary = executors ? Ref::steal(PyDict_New()) : Ref();
    if (!summary) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(executors.get()); ++i) {
        Ref part = call_method(PyList_GET_ITEM(executors.get(), i), op::get_active_summary);
        if (!part || PyDict_Update(summary.get(), part.get()) < 0) return nullptr;
    }
    return summary.release();
}

PyObject* get_template_info(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found <= 0) return found < 0 ? nullptr : Py_NewRef(Py_None);
    PyObject* e = executor.get();
    Ref source_id = executor::Executor.get(e, executor::field::template_source_id);
    Ref variables = source_id ? call_method(e, op::get_template_variables) : Ref();
    Ref variable_list = variables ? Ref::steal(PySequence_List(variables.get())) : Ref();
    Ref active = variable_list ? call_method(e, op::list_active) : Ref();
    Ref active_again = active ? call_method(e, op::list_active) : Ref();
    if (!active_again) return nullptr;
    const Py_ssize_t count = PyObject_Size(active_again.get());
    Ref active_count = Ref::steal(count < 0 ? nullptr : PyLong_FromSsize_t(count));
    return records::TemplateInfo.make({a[0], source_id.get(), variable_list.get(), active.get(), active_count.get()})
        .release();
}

constexpr Param kActivate[] = {{"template_name", Kind::Str},
                               {"instance_name", Kind::Str},
                               {"template_args", Kind::Dict},
                               {"enable", Kind::Bool, Default::True}};
constexpr Param kActivateDsl[] = {{"template_name", Kind::Str},
                                  {"instance_name", Kind::Str},
                                  {"dsl_text", Kind::Str},
                                  {"enable", Kind::Bool, Default::True}};
constexpr Param kInstance[] = {{"template_name", Kind::Str}, {"instance_name", Kind::Str}};
constexpr Param kTemplate[] = {{"template_name", Kind::Str}};

constexpr boundary::Method kActivateMethod{
    "activate", Receiver::Self, kActivate,
    "Render template_name with template_args and activate it as the instance "
    "\"template_name.instance_name\"; return (created_count, start_ids, all_ids).",
    activate};
constexpr boundary::Method kActivateDslMethod{
    "activate_from_populated_dsl", Receiver::Self, kActivateDsl,
    "Activate already rendered rule text as the instance \"template_name.instance_name\"; return "
    "(created_count, start_ids, all_ids).",
    activate_from_populated_dsl};
constexpr boundary::Method kDeactivate{
    "deactivate", Receiver::Self, kInstance,
    "Deactivate the instance \"template_name.instance_name\"; False when it is not active or the template is not "
    "registered.",
    deactivate};
constexpr boundary::Method kDeactivateTemplate{
    "deactivate_template", Receiver::Self, kTemplate,
    "Deactivate every instance of template_name; return how many (0 when it is not registered).",
    deactivate_template};
constexpr boundary::Method kDeactivateAll{"deactivate_all", Receiver::Self, {},
                                          "Deactivate every instance of every template; return how many.",
                                          deactivate_all};
constexpr boundary::Method kListAllActive{
    "list_all_active", Receiver::Self, {},
    "The active instance names of all templates, in registration and activation order.", list_all_active};
constexpr boundary::Method kListActiveForTemplate{
    "list_active_for_template", Receiver::Self, kTemplate,
    "The active instance names of template_name (empty when it is not registered).", list_active_for_template};
constexpr boundary::Method kGetActiveSummary{
    "get_active_summary", Receiver::Self, {},
    "Map of every active instance name to its ActiveTemplateSummary, over all templates.", get_active_summary};
constexpr boundary::Method kGetTemplateInfo{"get_template_info", Receiver::Self, kTemplate,
                                            "TemplateInfo of template_name, or None when it is not registered.",
                                            get_template_info};

}  // namespace

std::span<const boundary::Binding> activation_methods() {
    static const boundary::Binding kMethods[] = {
        boundary::bind<kActivateMethod>(),      boundary::bind<kActivateDslMethod>(),
        boundary::bind<kDeactivate>(),          boundary::bind<kDeactivateTemplate>(),
        boundary::bind<kDeactivateAll>(),       boundary::bind<kListAllActive>(),
        boundary::bind<kListActiveForTemplate>(), boundary::bind<kGetActiveSummary>(),
        boundary::bind<kGetTemplateInfo>(),
    };
    return kMethods;
}

}  // namespace zz::manager
