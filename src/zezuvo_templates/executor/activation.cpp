// Activation lifecycle: loading rendered text into the runtime under an
// instance name, and removing what it created.  The loader and the runtime
// are caller code that may call back into this executor, so every table is
// read again after such a call and iterated only through snapshots.
#include "executor/executor.hpp"
#include "frame/python.hpp"
#include "frame/clock.hpp"
#include "records/records.hpp"

namespace zz::executor {
namespace {

using boundary::Default;
using boundary::Kind;
using boundary::Param;
namespace at = records::active_template;
namespace ats = records::active_template_summary;

Interned kLoad{"load"};
Interned kRemove{"remove"};
Interned kActivate{"activate"};
Interned kDeactivate{"deactivate"};
Interned kPopulateTemplate{"populate_template"};
KeywordNames kLoadKeywords{"activate"};
KeywordNames kActivateKeywords{"enable", "template_parameters"};

Ref active_templates(PyObject* self) { return Executor.get(self, field::active_templates); }

// Fails with the duplicate-name error when `name` is a key of the table.
bool ensure_inactive(PyObject* table, PyObject* name) {
    Ref existing = lookup(table, name);
    if (existing) {
        PyErr_Format(PyExc_ValueError, "Template '%U' is already active", name);
        return false;
    }
    return !PyErr_Occurred();
}

Ref length(PyObject* sized) {
    const Py_ssize_t n = PyObject_Length(sized);
    return n < 0 ? Ref() : Ref::steal(PyLong_FromSsize_t(n));
}

PyObject* activate(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    PyObject* dsl_text = a[1];
    Ref table = active_templates(self);
    if (!table || !ensure_inactive(table.get(), name)) return nullptr;
    Ref loader = Executor.get(self, field::dsl_loader);
    if (!loader) return nullptr;
    Ref loaded = call_method_kw(loader.get(), kLoad, kLoadKeywords, dsl_text, a[2]);
    Ref values[3];
    if (!loaded || !unpack(loaded.get(), values)) return nullptr;
    Ref activated_at = clock::now();
    if (!activated_at) return nullptr;
    Ref content = Executor.get(self, field::template_content);
    Ref source_id = content ? Executor.get(self, field::template_source_id) : Ref();
    if (!source_id) return nullptr;
    Ref record = records::ActiveTemplate.make({name, dsl_text, values[0].get(), values[1].get(), values[2].get(),
                                               activated_at.get(), content.get(), a[3], source_id.get()});
    if (!record) return nullptr;
    // The loader may have activated this very name meanwhile: keep that
    // instance's record (and so its ids) rather than overwrite it.
    table = active_templates(self);
    if (!table || !ensure_inactive(table.get(), name)) return nullptr;
    if (PyObject_SetItem(table.get(), name, record.get()) < 0) return nullptr;
    return PyTuple_Pack(3, values[0].get(), values[1].get(), values[2].get());
}

PyObject* deactivate(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    Ref table = active_templates(self);
    if (!table) return nullptr;
    Ref record = lookup(table.get(), name);
    if (!record) return PyErr_Occurred() ? nullptr : Py_NewRef(Py_False);
    Ref all_ids = records::ActiveTemplate.get(record.get(), at::all_ids);
    Ref ids = all_ids ? Ref::steal(PySequence_List(all_ids.get())) : Ref();
    Ref runtime = ids ? Executor.get(self, field::zezuvo_runtime) : Ref();
    if (!runtime) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(ids.get()); ++i) {
        if (!call_method(runtime.get(), kRemove, PyList_GET_ITEM(ids.get(), i))) return nullptr;
    }
    // remove() may have deactivated the name already, or even activated it
    // anew: forget only the instance whose ids were removed here.
    table = active_templates(self);
    if (!table) return nullptr;
    Ref current = lookup(table.get(), name);
    if (current.get() == record.get()) {
        if (PyObject_DelItem(table.get(), name) < 0) return nullptr;
    } else if (PyErr_Occurred()) {
        return nullptr;
    }
    return Py_NewRef(Py_True);
}

PyObject* list_active(PyObject* self, const boundary::Args&) {
    Ref table = active_templates(self);
    return table ? keys(table.get()).release() : nullptr;
}

PyObject* get_active_info(PyObject* self, const boundary::Args& a) {
    Ref table = active_templates(self);
    if (!table) return nullptr;
    Ref record = lookup(table.get(), a[0]);
    if (!record) return PyErr_Occurred() ? nullptr : Py_NewRef(Py_None);
    return record.release();
}

PyObject* deactivate_all(PyObject* self, const boundary::Args&) {
    Ref table = active_templates(self);
    Ref names = table ? keys(table.get()) : Ref();
    if (!names) return nullptr;
    Py_ssize_t count = 0;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(names.get()); ++i) {
        Ref done = call_method(self, kDeactivate, PyList_GET_ITEM(names.get(), i));
        const int truth = done ? PyObject_IsTrue(done.get()) : -1;
        if (truth < 0) return nullptr;
        count += truth;
    }
    return PyLong_FromSsize_t(count);
}

PyObject* get_active_summary(PyObject* self, const boundary::Args&) {
    Ref table = active_templates(self);
    Ref items = table ? Ref::steal(PyMapping_Items(table.get())) : Ref();
    Ref summary = items ? Ref::steal(PyDict_New()) : Ref();
    if (!summary) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        Ref pair[2];
        if (!unpack(PyList_GET_ITEM(items.get(), i), pair)) return nullptr;
        PyObject* record = pair[1].get();
        Ref activated_at = records::ActiveTemplate.get(record, at::activated_at);
        Ref created_count = activated_at ? records::ActiveTemplate.get(record, at::created_count) : Ref();
        Ref all_ids = created_count ? records::ActiveTemplate.get(record, at::all_ids) : Ref();
        Ref predicate_count = all_ids ? length(all_ids.get()) : Ref();
        Ref start_ids = predicate_count ? records::ActiveTemplate.get(record, at::start_ids) : Ref();
        Ref start_count = start_ids ? length(start_ids.get()) : Ref();
        if (!start_count) return nullptr;
        Ref entry = records::ActiveTemplateSummary.make(
            {activated_at.get(), created_count.get(), predicate_count.get(), start_count.get()});
        if (!entry || PyDict_SetItem(summary.get(), pair[0].get(), entry.get()) < 0) return nullptr;
    }
    return summary.release();
}

PyObject* create_and_activate(PyObject* self, const boundary::Args& a) {
    Ref dsl_text = call_method(self, kPopulateTemplate, a[1]);
    if (!dsl_text) return nullptr;
    return call_method_kw(self, kActivate, kActivateKeywords, a[0], dsl_text.get(), a[2], a[1]).release();
}

constexpr Param kActivateParams[] = {{"name", Kind::Str},
                                     {"dsl_text", Kind::Str},
                                     {"enable", Kind::Bool, Default::True},
                                     {"template_parameters", Kind::DictOrNone, Default::None}};
constexpr Param kNameParam[] = {{"name", Kind::Str}};
constexpr Param kCreateParams[] = {
    {"name", Kind::Str}, {"template_args", Kind::Dict}, {"enable", Kind::Bool, Default::True}};

constexpr boundary::Method kActivateMethod{
    "activate", boundary::Receiver::Self, kActivateParams,
    "Load dsl_text into the runtime as the instance `name` and record what it created.\n\n"
    "Returns the loader's (created_count, start_ids, all_ids).",
    activate};
constexpr boundary::Method kDeactivateMethod{
    "deactivate", boundary::Receiver::Self, kNameParam,
    "Remove every predicate of the instance from the runtime and forget it; False if it was not active.",
    deactivate};
constexpr boundary::Method kListActive{"list_active", boundary::Receiver::Self, {},
                                       "The active instance names, in activation order.", list_active};
constexpr boundary::Method kGetActiveInfo{"get_active_info", boundary::Receiver::Self, kNameParam,
                                          "The ActiveTemplate recorded for the name, or None.", get_active_info};
constexpr boundary::Method kDeactivateAll{"deactivate_all", boundary::Receiver::Self, {},
                                          "Deactivate every instance; returns how many were deactivated.",
                                          deactivate_all};
constexpr boundary::Method kGetActiveSummary{
    "get_active_summary", boundary::Receiver::Self, {},
    "A map from each active name, in activation order, to its ActiveTemplateSummary.", get_active_summary};
constexpr boundary::Method kCreateAndActivate{
    "create_and_activate", boundary::Receiver::Self, kCreateParams,
    "Render the template with template_args and activate the result as the instance `name`.",
    create_and_activate};

}  // namespace

std::span<const boundary::Binding> activation_methods() {
    static const boundary::Binding kMethods[] = {
        boundary::bind<kActivateMethod>(), boundary::bind<kDeactivateMethod>(), boundary::bind<kListActive>(),
        boundary::bind<kGetActiveInfo>(),  boundary::bind<kDeactivateAll>(),    boundary::bind<kGetActiveSummary>(),
        boundary::bind<kCreateAndActivate>()};
    return kMethods;
}

}  // namespace zz::executor
