// Descriptions of active instances: the full metadata record and the flat
// debugging view.  Both are built fresh from the instance record, the
// executor's template and its events; nothing here changes the executor.
#include "executor/executor.hpp"
#include "frame/python.hpp"
#include "frame/clock.hpp"
#include "records/records.hpp"

namespace zz::executor {
namespace {

using boundary::Kind;
using boundary::Param;
namespace at = records::active_template;
namespace md = records::template_metadata;

// Called once per instance: straight into our own methods unless overridden.
boundary::OwnMethod score_summary_of{"score_summary"};
boundary::OwnMethod validate_template_args_of{"validate_template_args"};
boundary::OwnMethod comprehensive_metadata_of{"get_comprehensive_metadata"};
boundary::OwnMethod list_active_of{"list_active"};
Interned kValid{"valid"};
Interned kInvalid{"invalid"};

// `value or fallback()`: the fallback only when the value is false.
template <class Fallback>
Ref value_or(Ref value, Fallback fallback) {
    if (!value) return {};
    const int truth = PyObject_IsTrue(value.get());
    if (truth < 0) return {};
    return truth ? value : fallback();
}

Ref new_dict() { return Ref::steal(PyDict_New()); }

Ref length_of(const Ref& sized) {
    if (!sized) return {};
    const Py_ssize_t n = PyObject_Length(sized.get());
    return n < 0 ? Ref() : Ref::steal(PyLong_FromSsize_t(n));
}

Ref field_of(PyObject* record, std::size_t field) { return records::ActiveTemplate.get(record, field); }

// The instance record of an active name; null without error when it is not active.
Ref active_record(PyObject* self, PyObject* name) {
    Ref table = Executor.get(self, field::active_templates);
    return table ? lookup(table.get(), name) : Ref();
}

// The events recorded under the name; null without error when there are none.
Ref recorded_events(PyObject* self, PyObject* name) {
    Ref table = Executor.get(self, field::performance_events);
    return table ? lookup(table.get(), name) : Ref();
}

// "valid" unless the recorded parameters lack a template variable.
Ref validation_status(PyObject* self, PyObject* record) {
    if (!intern({&kValid, &kInvalid})) return {};
    Ref parameters = field_of(record, at::template_parameters);
    const int given = parameters ? PyObject_IsTrue(parameters.get()) : -1;
    if (given <= 0) return given < 0 ? Ref() : Ref::borrow(kValid.get());
    Ref result = validate_template_args_of(self, parameters.get());
    Ref pair[2];
    if (!result || !unpack(result.get(), pair)) return {};
    const int valid = PyObject_IsTrue(pair[0].get());
    if (valid < 0) return {};
    return Ref::borrow(valid ? kValid.get() : kInvalid.get());
}

PyObject* get_comprehensive_metadata(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    Ref record = active_record(self, name);
    if (!record) return PyErr_Occurred() ? nullptr : Py_NewRef(Py_None);
    Ref events = recorded_events(self, name);
    if (!events && PyErr_Occurred()) return nullptr;
    const int has_events = events ? PyObject_IsTrue(events.get()) : 0;
    if (has_events < 0) return nullptr;
    Ref summary = has_events ? score_summary_of(self, name) : Ref::borrow(Py_None);
    if (!summary) return nullptr;
    Ref status = validation_status(self, record.get());
    if (!status) return nullptr;

    Ref source_id = value_or(field_of(record.get(), at::template_source_id),
                             [&] { return Executor.get(self, field::template_source_id); });
    if (!source_id) return nullptr;
    Ref raw_template =
        value_or(field_of(record.get(), at::raw_template), [&] { return Executor.get(self, field::template_content); });
    if (!raw_template) return nullptr;
    Ref parameters = value_or(field_of(record.get(), at::template_parameters), new_dict);
    Ref dsl_text = parameters ? field_of(record.get(), at::dsl_text) : Ref();
    Ref activated_at = dsl_text ? field_of(record.get(), at::activated_at) : Ref();
    Ref created_count = activated_at ? field_of(record.get(), at::created_count) : Ref();
    if (!created_count) return nullptr;
    Ref predicate_count = length_of(field_of(record.get(), at::all_ids));
    if (!predicate_count) return nullptr;
    Ref start_count = length_of(field_of(record.get(), at::start_ids));
    if (!start_count) return nullptr;
    Ref variables = Executor.get(self, field::template_vars);
    Ref variables_copy = variables ? Ref::steal(PySet_New(variables.get())) : Ref();
    if (!variables_copy) return nullptr;
    Ref now = clock::now();
    if (!now) return nullptr;
    return records::TemplateMetadata
        .make({name, source_id.get(), raw_template.get(), parameters.get(), dsl_text.get(), activated_at.get(),
               created_count.get(), predicate_count.get(), start_count.get(), summary.get(), variables_copy.get(),
               status.get(), now.get()})
        .release();
}

PyObject* get_all_active_metadata(PyObject* self, const boundary::Args&) {
    Ref names = list_active_of(self);
    Ref iterator = names ? Ref::steal(PyObject_GetIter(names.get())) : Ref();
    Ref result = iterator ? new_dict() : Ref();
    if (!result) return nullptr;
    while (Ref name = Ref::steal(PyIter_Next(iterator.get()))) {
        Ref metadata = comprehensive_metadata_of(self, name.get());
        if (!metadata || PyDict_SetItem(result.get(), name.get(), metadata.get()) < 0) return nullptr;
    }
    return PyErr_Occurred() ? nullptr : result.release();
}

PyObject* get_template_debug_info(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    Ref record = active_record(self, name);
    if (!record) return PyErr_Occurred() ? nullptr : Py_NewRef(Py_None);
    Ref metadata = comprehensive_metadata_of(self, name);
    Ref status = metadata ? records::TemplateMetadata.get(metadata.get(), md::validation_status) : Ref();
    Ref activated_at = status ? field_of(record.get(), at::activated_at) : Ref();
    Ref activated_text = activated_at ? clock::iso_format(activated_at.get()) : Ref();
    if (!activated_text) return nullptr;
    Ref now = clock::now();
    Ref runtime_seconds = now ? clock::seconds_between(activated_at.get(), now.get()) : Ref();
    if (!runtime_seconds) return nullptr;
    Ref predicate_count = length_of(field_of(record.get(), at::all_ids));
    if (!predicate_count) return nullptr;
    Ref start_count = length_of(field_of(record.get(), at::start_ids));
    if (!start_count) return nullptr;
    Ref events = recorded_events(self, name);
    if (!events && PyErr_Occurred()) return nullptr;
    Ref events_count = events ? length_of(events) : Ref::steal(PyLong_FromLong(0));
    if (!events_count) return nullptr;
    const bool has_events = PyLong_AsSsize_t(events_count.get()) > 0;
    Ref parameters = value_or(field_of(record.get(), at::template_parameters), new_dict);
    if (!parameters) return nullptr;
    Ref dsl_length = length_of(field_of(record.get(), at::dsl_text));
    if (!dsl_length) return nullptr;
    Ref raw_length = length_of(Executor.get(self, field::template_content));
    if (!raw_length) return nullptr;
    Ref source_id = Executor.get(self, field::template_source_id);
    Ref variables = source_id ? Executor.get(self, field::template_vars) : Ref();
    Ref variable_list = variables ? Ref::steal(PySequence_List(variables.get())) : Ref();
    if (!variable_list) return nullptr;
    return records::TemplateDebugInfo
        .make({name, source_id.get(), variable_list.get(), status.get(), activated_text.get(), runtime_seconds.get(),
               predicate_count.get(), start_count.get(), events_count.get(), has_events ? Py_True : Py_False,
               parameters.get(), dsl_length.get(), raw_length.get()})
        .release();
}

constexpr Param kNameParam[] = {{"name", Kind::Str}};

constexpr boundary::Method kGetComprehensiveMetadataMethod{
    "get_comprehensive_metadata", boundary::Receiver::Self, kNameParam,
    "A TemplateMetadata describing the active instance, or None when the name is not active.",
    get_comprehensive_metadata};
constexpr boundary::Method kGetAllActiveMetadata{
    "get_all_active_metadata", boundary::Receiver::Self, {},
    "A map from each active name, in activation order, to its TemplateMetadata.", get_all_active_metadata};
constexpr boundary::Method kGetTemplateDebugInfo{
    "get_template_debug_info", boundary::Receiver::Self, kNameParam,
    "A TemplateDebugInfo for the active instance, or None when the name is not active.", get_template_debug_info};

}  // namespace

std::span<const boundary::Binding> metadata_methods() {
    static const boundary::Binding kMethods[] = {boundary::bind<kGetComprehensiveMetadataMethod>(),
                                                 boundary::bind<kGetAllActiveMetadata>(),
                                                 boundary::bind<kGetTemplateDebugInfo>()};
    return kMethods;
}

}  // namespace zz::executor
