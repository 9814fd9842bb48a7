#include "manager/calls.hpp"
#include "manager/manager.hpp"
#include "manager/names.hpp"
#include "manager/registry.hpp"

namespace zz::manager {
namespace {

using boundary::Kind;
using boundary::Param;
using boundary::Receiver;

// What a single-instance query answers for a template that is not registered.
enum class Unregistered : bool { Raise, None };

// executor.<operation>(full_instance_name, *extra) for (template_name, instance_name).
Ref ask_instance(PyObject* self, const boundary::Args& a, Interned& operation, Unregistered unregistered,
                 PyObject* extra = nullptr) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found < 0) return {};
    if (found == 0) {
        if (unregistered == Unregistered::None) return Ref::borrow(Py_None);
        PyErr_Format(PyExc_ValueError, "Template '%U' not found", a[0]);
        return {};
    }
    Ref full = full_instance_name(a[0], a[1]);
    if (!full) return {};
    if (extra != nullptr) return call_method(executor.get(), operation, full.get(), extra);
    return call_method(executor.get(), operation, full.get());
}

PyObject* state_update(PyObject* self, const boundary::Args& a) {
    Ref done = ask_instance(self, a, op::state_update, Unregistered::Raise, a[2]);
    return done ? Py_NewRef(Py_None) : nullptr;
}

PyObject* get_performance_summary(PyObject* self, const boundary::Args& a) {
    return ask_instance(self, a, op::score_summary, Unregistered::Raise).release();
}

PyObject* get_performance_events(PyObject* self, const boundary::Args& a) {
    return ask_instance(self, a, op::score_get, Unregistered::Raise).release();
}

PyObject* get_template_instance_metadata(PyObject* self, const boundary::Args& a) {
    return ask_instance(self, a, op::get_comprehensive_metadata, Unregistered::None).release();
}

PyObject* get_template_debug_info(PyObject* self, const boundary::Args& a) {
    return ask_instance(self, a, op::get_template_debug_info, Unregistered::None).release();
}

// executor.<operation>(*args) on the executor found by the manager's _get_executor.
PyObject* ask_template(PyObject* self, PyObject* template_name, Interned& operation, PyObject* arg = nullptr) {
    Ref executor = get_executor(self, template_name);
    if (!executor) return nullptr;
    if (arg != nullptr) return call_method(executor.get(), operation, arg).release();
    return call_method(executor.get(), operation).release();
}

PyObject* get_template_variables(PyObject* self, const boundary::Args& a) {
    return ask_template(self, a[0], op::get_template_variables);
}

PyObject* validate_template_args(PyObject* self, const boundary::Args& a) {
    return ask_template(self, a[0], op::validate_template_args, a[1]);
}

PyObject* preview_template(PyObject* self, const boundary::Args& a) {
    return ask_template(self, a[0], op::populate_template, a[1]);
}

PyObject* get_all_performance_summaries(PyObject* self, const boundary::Args&) {
    Ref executors = executors_snapshot(self);
    Ref summaries = executors ? Ref::steal(PyDict_New()) : Ref();
    if (!summaries) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(executors.get()); ++i) {
        PyObject* executor = PyList_GET_ITEM(executors.get(), i);
        Ref active = call_method(executor, op::list_active);
        Ref it = active ? Ref::steal(PyObject_GetIter(active.get())) : Ref();
        if (!it) return nullptr;
        while (Ref name = Ref::steal(PyIter_Next(it.get()))) {
            Ref summary = call_method(executor, op::score_summary, name.get());
            if (!summary || PyDict_SetItem(summaries.get(), name.get(), summary.get()) < 0) return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;
    }
    return summaries.release();
}

boundary::OwnMethod all_active_metadata_of{"get_all_active_metadata"};

PyObject* get_all_active_templates_comprehensive(PyObject* self, const boundary::Args&) {
    Ref executors = executors_snapshot(self);
    Ref metadata = executors ? Ref::steal(PyDict_New()) : Ref();
    if (!metadata) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(executors.get()); ++i) {
        Ref part = all_active_metadata_of(PyList_GET_ITEM(executors.get(), i));
        if (!part || PyDict_Update(metadata.get(), part.get()) < 0) return nullptr;
    }
    return metadata.release();
}

constexpr Param kInstance[] = {{"template_name", Kind::Str}, {"instance_name", Kind::Str}};
constexpr Param kEvent[] = {{"template_name", Kind::Str}, {"instance_name", Kind::Str}, {"event_data", Kind::Dict}};
constexpr Param kTemplate[] = {{"template_name", Kind::Str}};
constexpr Param kTemplateArgs[] = {{"template_name", Kind::Str}, {"template_args", Kind::Dict}};

constexpr boundary::Method kStateUpdate{
    "state_update", Receiver::Self, kEvent,
    "Record a performance event (\"profit\", \"win\", optional \"ts\") for the instance "
    "\"template_name.instance_name\".",
    state_update};
constexpr boundary::Method kGetPerformanceSummary{
    "get_performance_summary", Receiver::Self, kInstance,
    "PerformanceSummary of the instance \"template_name.instance_name\".", get_performance_summary};
constexpr boundary::Method kGetPerformanceEvents{
    "get_performance_events", Receiver::Self, kInstance,
    "The recorded events of the instance \"template_name.instance_name\", in time order.",
    get_performance_events};
constexpr boundary::Method kGetAllPerformanceSummaries{
    "get_all_performance_summaries", Receiver::Self, {},
    "Map of every active instance name to its PerformanceSummary, over all templates.",
    get_all_performance_summaries};
constexpr boundary::Method kGetTemplateVariables{"get_template_variables", Receiver::Self, kTemplate,
                                                 "The variables that template_name needs.", get_template_variables};
constexpr boundary::Method kValidateTemplateArgs{
    "validate_template_args", Receiver::Self, kTemplateArgs,
    "(is_valid, missing) for template_args against the variables of template_name.", validate_template_args};
constexpr boundary::Method kPreviewTemplate{
    "preview_template", Receiver::Self, kTemplateArgs,
    "Render template_name with template_args without activating anything.", preview_template};
constexpr boundary::Method kGetAllActiveTemplatesComprehensive{
    "get_all_active_templates_comprehensive", Receiver::Self, {},
    "Map of every active instance name to its TemplateMetadata, over all templates.",
    get_all_active_templates_comprehensive};
constexpr boundary::Method kGetTemplateInstanceMetadata{
    "get_template_instance_metadata", Receiver::Self, kInstance,
    "TemplateMetadata of the instance \"template_name.instance_name\", or None.", get_template_instance_metadata};
constexpr boundary::Method kGetTemplateDebugInfo{
    "get_template_debug_info", Receiver::Self, kInstance,
    "TemplateDebugInfo of the instance \"template_name.instance_name\", or None.", get_template_debug_info};

}  // namespace

std::span<const boundary::Binding> query_methods() {
    static const boundary::Binding kMethods[] = {
        boundary::bind<kStateUpdate>(),
        boundary::bind<kGetPerformanceSummary>(),
        boundary::bind<kGetPerformanceEvents>(),
        boundary::bind<kGetAllPerformanceSummaries>(),
        boundary::bind<kGetTemplateVariables>(),
        boundary::bind<kValidateTemplateArgs>(),
        boundary::bind<kPreviewTemplate>(),
        boundary::bind<kGetAllActiveTemplatesComprehensive>(),
        boundary::bind<kGetTemplateInstanceMetadata>(),
        boundary::bind<kGetTemplateDebugInfo>(),
    };
    return kMethods;
}

}  // namespace zz::manager
