#include "manager/registry.hpp"

#include "executor/executor.hpp"
#include "frame/globals.hpp"
#include "manager/calls.hpp"
#include "manager/manager.hpp"
#include "templates/template_cache.hpp"

namespace zz::manager {

Ref registry(PyObject* manager) { return Manager.get(manager, field::executors); }

int is_registered(PyObject* manager, PyObject* template_name) {
    Ref reg = registry(manager);
    if (!reg) return -1;
    if (PyDict_CheckExact(reg.get())) return PyDict_Contains(reg.get(), template_name);
    return PySequence_Contains(reg.get(), template_name);
}

int find_executor(PyObject* manager, PyObject* template_name, Ref& out) {
    Ref reg = registry(manager);
    if (!reg) return -1;
    if (PyDict_CheckExact(reg.get())) {
        out = Ref::borrow(PyDict_GetItemWithError(reg.get(), template_name));
        if (out) return 1;
        return PyErr_Occurred() ? -1 : 0;
    }
    const int found = PySequence_Contains(reg.get(), template_name);
    if (found <= 0) return found;
    out = Ref::steal(PyObject_GetItem(reg.get(), template_name));
    return out ? 1 : -1;
}

Ref executors_snapshot(PyObject* manager) {
    Ref reg = registry(manager);
    return reg ? Ref::steal(PyMapping_Values(reg.get())) : Ref();
}

Ref get_executor(PyObject* manager, PyObject* template_name) {
    return call_method(manager, op::get_executor, template_name);
}

namespace {

using boundary::Default;
using boundary::Kind;
using boundary::Param;
using boundary::Receiver;

#define ZZ_CREATE_FIRST "You must explicitly create it first using from_builtin(), from_file(), or from_string()."

// Registers a newly made executor under the name (at the end of the
// registration order) and hands it back; a null executor passes its error on.
PyObject* register_new(PyObject* self, PyObject* template_name, Ref executor) {
    if (!executor) return nullptr;
    Ref reg = registry(self);
    if (!reg || PyObject_SetItem(reg.get(), template_name, executor.get()) < 0) return nullptr;
    return executor.release();
}

// Whether the registered executor carries the expected source identifier:
// 1, 0 (its identifier is left in `registered_id`), or -1 with an error set.
int same_source(PyObject* existing, PyObject* expected_id, Ref& registered_id) {
    if (!expected_id) return -1;
    registered_id = executor::Executor.get(existing, executor::field::template_source_id);
    if (!registered_id) return -1;
    return PyObject_RichCompareBool(registered_id.get(), expected_id, Py_EQ);
}

Interned executor_class_name{"ZeZuvoRuntimeTemplateExecutor"};

// The executor class as the module namespace holds it at the moment of use,
// so that patching "brevant.zezuvo_templates.ZeZuvoRuntimeTemplateExecutor"
// reaches registration.
Ref executor_class() {
    PyObject* key = executor_class_name.get();
    if (key == nullptr) return {};
    PyObject* space = globals::namespace_dict();
    PyObject* cls = space != nullptr ? PyDict_GetItemWithError(space, key) : nullptr;
    if (cls == nullptr && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    return Ref::borrow(cls);
}

// A new executor made by the executor class's factory, always by position.
Ref make_executor(PyObject* self, Interned& factory, PyObject* source, PyObject* extra = nullptr) {
    Ref runtime = Manager.get(self, field::zezuvo_runtime);
    Ref cls = runtime ? executor_class() : Ref();
    if (!cls) return {};
    if (extra != nullptr) return call_method(cls.get(), factory, runtime.get(), source, extra);
    return call_method(cls.get(), factory, runtime.get(), source);
}

PyObject* getitem(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found != 0) return found > 0 ? executor.release() : nullptr;
    Ref reg = registry(self);
    Ref names = reg ? Ref::steal(PyMapping_Keys(reg.get())) : Ref();
    Ref shown = names ? Ref::steal(PyObject_Repr(names.get())) : Ref();
    if (!shown) return nullptr;
    PyErr_Format(PyExc_ValueError, "Template '%U' not found. " ZZ_CREATE_FIRST " Available templates: %U", a[0],
                 shown.get());
    return nullptr;
}

PyObject* contains(PyObject* self, const boundary::Args& a) {
    const int found = is_registered(self, a[0]);
    return found < 0 ? nullptr : PyBool_FromLong(found);
}

PyObject* get_executor_impl(PyObject* self, const boundary::Args& a) {
    Ref executor;
    const int found = find_executor(self, a[0], executor);
    if (found == 0) PyErr_Format(PyExc_ValueError, "Template '%U' not found. " ZZ_CREATE_FIRST, a[0]);
    return found > 0 ? executor.release() : nullptr;
}

Interned dsl_suffix{".dsl"};
Interned empty_text{""};

// The name with every ".dsl" removed.
Ref without_dsl(PyObject* name) {
    if (dsl_suffix.get() == nullptr || empty_text.get() == nullptr) return {};
    return Ref::steal(PyUnicode_Replace(name, dsl_suffix.get(), empty_text.get(), -1));
}

// "algo_flipper.dsl" -> "algo_flipper"; a name not ending in ".dsl" stays as it is.
Ref default_builtin_name(PyObject* builtin_name) {
    if (dsl_suffix.get() == nullptr) return {};
    const Py_ssize_t ends = PyUnicode_Tailmatch(builtin_name, dsl_suffix.get(), 0, PY_SSIZE_T_MAX, 1);
    if (ends < 0) return {};
    return ends ? without_dsl(builtin_name) : Ref::borrow(builtin_name);
}

PyObject* from_builtin(PyObject* self, const boundary::Args& a) {
    PyObject* builtin_name = a[0];
    Ref name = a.is_none(1) ? default_builtin_name(builtin_name) : Ref::borrow(a[1]);
    if (!name) return nullptr;
    Ref existing;
    const int found = find_executor(self, name.get(), existing);
    if (found < 0) return nullptr;
    if (found == 0) return register_new(self, name.get(), make_executor(self, op::from_builtin, builtin_name));

    Ref expected = Ref::steal(PyUnicode_FromFormat("builtin:%U", builtin_name));
    Ref registered_id;
    const int same = same_source(existing.get(), expected.get(), registered_id);
    if (same != 0) return same > 0 ? existing.release() : nullptr;
    PyErr_Format(PyExc_ValueError,
                 "Template name '%S' already exists with source '%S', cannot register builtin '%U' with the same "
                 "name. Use a different template name.",
                 name.get(), registered_id.get(), builtin_name);
    return nullptr;
}

// The module's Path(template_path).
Ref make_path(PyObject* template_path) {
    Ref path_type = globals::get(globals::Name::Path);
    return path_type ? Ref::steal(PyObject_CallOneArg(path_type.get(), template_path)) : Ref();
}

PyObject* from_file(PyObject* self, const boundary::Args& a) {
    PyObject* template_path = a[0];
    Ref path;
    Ref name = Ref::borrow(a[1]);
    if (a.is_none(1)) {
        path = make_path(template_path);
        name = path ? Ref::steal(PyObject_GetAttrString(path.get(), "stem")) : Ref();
        if (!name) return nullptr;
    }
    Ref existing;
    const int found = find_executor(self, name.get(), existing);
    if (found < 0) return nullptr;
    if (found == 0) return register_new(self, name.get(), make_executor(self, op::from_file, template_path));

    if (!path) path = make_path(template_path);
    Ref expected = path ? Ref::steal(PyUnicode_FromFormat("file:%S", path.get())) : Ref();
    Ref registered_id;
    const int same = same_source(existing.get(), expected.get(), registered_id);
    if (same != 0) return same > 0 ? existing.release() : nullptr;
    PyErr_Format(PyExc_ValueError,
                 "Template name '%S' already exists with source '%S', cannot register file '%S' with the same "
                 "name. Use a different template name.",
                 name.get(), registered_id.get(), template_path);
    return nullptr;
}

// "string:" + the first 12 hex digits of the content's SHA-256.
Ref string_source_id(PyObject* content) {
    Ref digest = templates::hex_digest("sha256", content);
    Ref prefix = digest ? Ref::steal(PySequence_GetSlice(digest.get(), 0, 12)) : Ref();
    return prefix ? Ref::steal(PyUnicode_FromFormat("string:%S", prefix.get())) : Ref();
}

PyObject* from_string(PyObject* self, const boundary::Args& a) {
    PyObject* content = a[0];
    PyObject* name = a[1];
    Ref expected = string_source_id(content);
    if (!expected) return nullptr;
    Ref existing;
    const int found = find_executor(self, name, existing);
    if (found < 0) return nullptr;
    if (found == 0) return register_new(self, name, make_executor(self, op::from_string, content, expected.get()));

    Ref registered_id;
    const int same = same_source(existing.get(), expected.get(), registered_id);
    if (same != 0) return same > 0 ? existing.release() : nullptr;
    PyErr_Format(PyExc_ValueError,
                 "Template name '%U' already exists with source '%S', but expected '%U' for the provided content",
                 name, registered_id.get(), expected.get());
    return nullptr;
}

PyObject* get_template_names(PyObject* self, const boundary::Args&) {
    Ref reg = registry(self);
    return reg ? PyMapping_Keys(reg.get()) : nullptr;
}

PyObject* get_available_builtin_names(PyObject*, const boundary::Args&) {
    Ref catalogue = globals::get(globals::Name::BUILTIN_TEMPLATES);
    Ref keys = catalogue ? Ref::steal(PyMapping_Keys(catalogue.get())) : Ref();
    if (!keys) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref name = without_dsl(PyList_GET_ITEM(keys.get(), i));
        if (!name) return nullptr;
        PyList_SetItem(keys.get(), i, name.release());
    }
    return keys.release();
}

PyObject* clear_template_cache(PyObject*, const boundary::Args&) {
    Ref cache = globals::get(globals::Name::template_cache);
    Ref done = cache ? call_method(cache.get(), op::clear) : Ref();
    return done ? Py_NewRef(Py_None) : nullptr;
}

PyObject* remove_template(PyObject* self, const boundary::Args& a) {
    PyObject* name = a[0];
    const int found = is_registered(self, name);
    if (found <= 0) return found < 0 ? nullptr : Py_NewRef(Py_False);
    Ref deactivated = call_method(self, op::deactivate_template, name);
    if (!deactivated) return nullptr;
    Ref reg = registry(self);
    if (!reg || PyObject_DelItem(reg.get(), name) < 0) return nullptr;
    return Py_NewRef(Py_True);
}

#undef ZZ_CREATE_FIRST

constexpr Param kName[] = {{"template_name", Kind::Str}};
constexpr Param kFromBuiltin[] = {{"builtin_name", Kind::Str}, {"template_name", Kind::StrOrNone, Default::None}};
constexpr Param kFromFile[] = {{"template_path"}, {"template_name", Kind::StrOrNone, Default::None}};
constexpr Param kFromString[] = {{"template_content", Kind::Str}, {"template_name", Kind::Str}};

constexpr boundary::Method kGetItem{"__getitem__", Receiver::Self, kName,
                                    "Return the executor registered under template_name.", getitem};
constexpr boundary::Method kContains{"__contains__", Receiver::Self, kName,
                                     "Whether template_name is registered.", contains};
constexpr boundary::Method kGetExecutor{"_get_executor", Receiver::Self, kName,
                                        "Return the executor registered under template_name.", get_executor_impl};
constexpr boundary::Method kFromBuiltinMethod{
    "from_builtin", Receiver::Self, kFromBuiltin,
    "Register the built-in template builtin_name (a BUILTIN_TEMPLATES key) under template_name, by default the "
    "built-in name without \".dsl\"; return its executor. Registering a name again with the same source returns "
    "the registered executor.",
    from_builtin};
constexpr boundary::Method kFromFileMethod{
    "from_file", Receiver::Self, kFromFile,
    "Register the template file at template_path under template_name, by default the file's stem; return its "
    "executor. Registering a name again with the same path returns the registered executor.",
    from_file};
constexpr boundary::Method kFromStringMethod{
    "from_string", Receiver::Self, kFromString,
    "Register template_content under template_name; return its executor. Registering a name again with the same "
    "content returns the registered executor.",
    from_string};
constexpr boundary::Method kGetTemplateNames{"get_template_names", Receiver::Self, {},
                                             "The registered template names, in registration order.",
                                             get_template_names};
constexpr boundary::Method kGetAvailableBuiltinNames{
    "get_available_builtin_names", Receiver::Self, {},
    "The default template names of the built-in templates (their names without \".dsl\").",
    get_available_builtin_names};
constexpr boundary::Method kClearTemplateCache{
    "clear_template_cache", Receiver::Self, {},
    "Empty the module-wide compile cache; existing executors keep their compiled templates.",
    clear_template_cache};
constexpr boundary::Method kRemoveTemplate{
    "remove_template", Receiver::Self, kName,
    "Deactivate every instance of template_name and unregister it; False when it is not registered.",
    remove_template};

}  // namespace

std::span<const boundary::Binding> registry_methods() {
    static const boundary::Binding kMethods[] = {
        boundary::bind<kGetItem>(),          boundary::bind<kContains>(),
        boundary::bind<kGetExecutor>(),      boundary::bind<kFromBuiltinMethod>(),
        boundary::bind<kFromFileMethod>(),   boundary::bind<kFromStringMethod>(),
        boundary::bind<kGetTemplateNames>(), boundary::bind<kGetAvailableBuiltinNames>(),
        boundary::bind<kClearTemplateCache>(), boundary::bind<kRemoveTemplate>(),
    };
    return kMethods;
}

}  // namespace zz::manager
