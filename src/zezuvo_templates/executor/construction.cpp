// Executor factories and the creation steps that every factory ends in.
#include "executor/executor.hpp"
#include "frame/python.hpp"
#include "frame/globals.hpp"
#include "templates/template_cache.hpp"

namespace zz::executor {
namespace {

using boundary::Kind;
using boundary::Param;
using boundary::Receiver;
using globals::Name;

Interned kCreateFromContent{"_create_from_content"};
Interned kPostInit{"__post_init__"};
Interned kCompileTemplate{"_compile_template"};
Interned kExtractTemplateVariables{"_extract_template_variables"};
Interned kGetTemplate{"get_template"};
Interned kParse{"parse"};
Interned kFindUndeclaredVariables{"find_undeclared_variables"};
Interned kZezuvoRuntime{"zezuvoRuntime"};

PyObject* create_from_content(PyObject* cls, PyObject* runtime, PyObject* source_id, PyObject* content) {
    return call_method(cls, kCreateFromContent, runtime, source_id, content).release();
}

// ---- from_builtin -------------------------------------------------------

PyObject* from_builtin(PyObject* cls, const boundary::Args& a) {
    PyObject* name = a[1];
    Ref catalogue = globals::get(Name::BUILTIN_TEMPLATES);
    if (!catalogue) return nullptr;
    const int found = PySequence_Contains(catalogue.get(), name);
    if (found < 0) return nullptr;
    if (!found) {
        Ref keys = Ref::steal(PySequence_List(catalogue.get()));
        Ref separator = keys ? Ref::steal(PyUnicode_FromString(", ")) : Ref();
        Ref available = separator ? Ref::steal(PyUnicode_Join(separator.get(), keys.get())) : Ref();
        if (available) {
            PyErr_Format(PyExc_ValueError, "Built-in template '%U' not found. Available: %U", name, available.get());
        }
        return nullptr;
    }
    Ref text = Ref::steal(PyObject_GetItem(catalogue.get(), name));
    Ref source_id = text ? Ref::steal(PyUnicode_FromFormat("builtin:%U", name)) : Ref();
    if (!source_id) return nullptr;
    return create_from_content(cls, a[0], source_id.get(), text.get());
}

// ---- from_file ----------------------------------------------------------

// The `open` a Python function of this module would see: the module's own
// name when one is set there, otherwise the builtin.
Ref open_function() {
    static Interned open_name{"open"};
    PyObject* key = open_name.get();
    if (key == nullptr) return {};
    if (PyObject* own = PyDict_GetItemWithError(globals::namespace_dict(), key)) return Ref::borrow(own);
    if (PyErr_Occurred()) return {};
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    return builtins ? Ref::steal(PyObject_GetAttr(builtins.get(), key)) : Ref();
}

// with open(path, "r", encoding="utf-8") as f: return f.read()
Ref read_text(PyObject* path) {
    Ref open = open_function();
    if (!open) return {};
    Ref mode = Ref::steal(PyUnicode_FromString("r"));
    Ref encoding = mode ? Ref::steal(PyUnicode_FromString("utf-8")) : Ref();
    Ref kwnames = encoding ? Ref::steal(Py_BuildValue("(s)", "encoding")) : Ref();
    if (!kwnames) return {};
    PyObject* open_args[] = {path, mode.get(), encoding.get()};
    Ref file = Ref::steal(PyObject_Vectorcall(open.get(), open_args, 2, kwnames.get()));
    if (!file) return {};
    Ref handle = Ref::steal(PyObject_CallMethod(file.get(), "__enter__", nullptr));
    if (!handle) return {};
    Ref content = Ref::steal(PyObject_CallMethod(handle.get(), "read", nullptr));
    if (!content) {
        Ref error = take_pending();
        PyObject* error_type = reinterpret_cast<PyObject*>(Py_TYPE(error.get()));
        Ref tb = Ref::steal(PyException_GetTraceback(error.get()));
        Ref closed = Ref::steal(PyObject_CallMethod(file.get(), "__exit__", "OOO", error_type, error.get(),
                                                    tb ? tb.get() : Py_None));
        // A failure while closing replaces the read error (with it as context);
        // a close that reports "handled" cannot make up the missing text.
        if (!closed) {
            chain_pending(std::move(error));
        } else {
            restore(std::move(error));
        }
        return {};
    }
    Ref closed = Ref::steal(PyObject_CallMethod(file.get(), "__exit__", "OOO", Py_None, Py_None, Py_None));
    if (!closed) return {};
    return content;
}

PyObject* from_file(PyObject* cls, const boundary::Args& a) {
    Ref path_type = globals::get(Name::Path);
    if (!path_type) return nullptr;
    Ref path = Ref::steal(PyObject_CallOneArg(path_type.get(), a[1]));
    if (!path) return nullptr;
    Ref exists = Ref::steal(PyObject_CallMethod(path.get(), "exists", nullptr));
    if (!exists) return nullptr;
    const int truth = PyObject_IsTrue(exists.get());
    if (truth < 0) return nullptr;
    if (!truth) {
        Ref message = Ref::steal(PyUnicode_FromFormat("Template file not found: %S", path.get()));
        if (message) PyErr_SetObject(PyExc_FileNotFoundError, message.get());
        return nullptr;
    }
    Ref content = read_text(path.get());
    if (!content) {
        if (!PyErr_ExceptionMatches(PyExc_OSError)) return nullptr;
        Ref error = take_pending();
        Ref message =
            Ref::steal(PyUnicode_FromFormat("Failed to read template file %S: %S", path.get(), error.get()));
        raise_with_context(PyExc_OSError, message.get(), std::move(error));
        return nullptr;
    }
    Ref source_id = Ref::steal(PyUnicode_FromFormat("file:%S", path.get()));
    if (!source_id) return nullptr;
    return create_from_content(cls, a[0], source_id.get(), content.get());
}

// ---- from_string --------------------------------------------------------

bool blank(PyObject* text) {
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        if (!Py_UNICODE_ISSPACE(PyUnicode_READ(kind, data, i))) return false;
    }
    return true;
}

PyObject* from_string(PyObject* cls, const boundary::Args& a) {
    PyObject* content = a[1];
    if (blank(content)) {
        PyErr_SetString(PyExc_ValueError, "Template content cannot be empty");
        return nullptr;
    }
    Ref source_id = Ref::borrow(a[2]);
    if (a.is_none(2)) {
        Ref digest = templates::hex_digest("md5", content);
        Ref prefix = digest ? Ref::steal(PyUnicode_Substring(digest.get(), 0, 12)) : Ref();
        source_id = prefix ? Ref::steal(PyUnicode_FromFormat("string:%U", prefix.get())) : Ref();
        if (!source_id) return nullptr;
    }
    return create_from_content(cls, a[0], source_id.get(), content);
}

// ---- creation -----------------------------------------------------------

// A new instance of cls without __init__, the creation fields set.
Ref new_instance(PyObject* cls, PyObject* runtime, PyObject* source_id, PyObject* content) {
    Ref environment = new_environment();
    if (!environment) return {};
    Ref active = Ref::steal(PyDict_New());
    Ref events = active ? Ref::steal(PyDict_New()) : Ref();
    if (!events) return {};
    if (cls == Executor.type_object()) {
        // Every slot is filled before the object can be seen; __post_init__
        // replaces the loader, the variables and the compiled template.
        Ref variables = Ref::steal(PySet_New(nullptr));
        if (!variables) return {};
        return Executor.make({runtime, source_id, environment.get(), Py_None, content, variables.get(), Py_None,
                              active.get(), events.get()});
    }
    Ref obj = Ref::steal(PyObject_CallMethod(cls, "__new__", "O", cls));
    if (!obj) return {};
    const std::pair<std::size_t, PyObject*> values[] = {
        {field::zezuvo_runtime, runtime}, {field::template_source_id, source_id},
        {field::jinja_env, environment.get()}, {field::active_templates, active.get()},
        {field::performance_events, events.get()}, {field::template_content, content},
    };
    for (const auto& [f, value] : values) {
        if (!Executor.set(obj.get(), f, value)) return {};
    }
    return obj;
}

PyObject* create_from_content_impl(PyObject* cls, const boundary::Args& a) {
    Ref obj = new_instance(cls, a[0], a[1], a[2]);
    if (!obj) return nullptr;
    Ref done = call_method(obj.get(), kPostInit);
    return done ? obj.release() : nullptr;
}

PyObject* post_init(PyObject* self, const boundary::Args&) {
    Ref loader_type = globals::get(Name::ZeZuvoDSLLoader);
    if (!loader_type) return nullptr;
    Ref loader = Ref::steal(PyObject_CallNoArgs(loader_type.get()));
    if (!loader || !Executor.set(self, field::dsl_loader, loader.get())) return nullptr;
    Ref runtime = Executor.get(self, field::zezuvo_runtime);
    PyObject* attr = kZezuvoRuntime.get();
    if (!runtime || attr == nullptr || PyObject_SetAttr(loader.get(), attr, runtime.get()) < 0) return nullptr;
    if (!call_method(self, kCompileTemplate) || !call_method(self, kExtractTemplateVariables)) return nullptr;
    Py_RETURN_NONE;
}

PyObject* compile_template(PyObject* self, const boundary::Args&) {
    Ref cache = globals::get(Name::template_cache);
    if (!cache) return nullptr;
    Ref source_id = Executor.get(self, field::template_source_id);
    Ref content = source_id ? Executor.get(self, field::template_content) : Ref();
    if (!content) return nullptr;
    Ref compiled = call_method(cache.get(), kGetTemplate, source_id.get(), content.get());
    if (!compiled || !Executor.set(self, field::compiled_template, compiled.get())) return nullptr;
    Py_RETURN_NONE;
}

PyObject* extract_template_variables(PyObject* self, const boundary::Args&) {
    Ref environment = Executor.get(self, field::jinja_env);
    Ref content = environment ? Executor.get(self, field::template_content) : Ref();
    if (!content) return nullptr;
    Ref tree = call_method(environment.get(), kParse, content.get());
    Ref meta = tree ? globals::get(Name::meta) : Ref();
    if (!meta) return nullptr;
    Ref variables = call_method(meta.get(), kFindUndeclaredVariables, tree.get());
    if (!variables || !Executor.set(self, field::template_vars, variables.get())) return nullptr;
    Py_RETURN_NONE;
}

constexpr Param kFromBuiltinParams[] = {{"runtime"}, {"template_name", Kind::Str}};
constexpr boundary::Method kFromBuiltin{
    "from_builtin", Receiver::Class, kFromBuiltinParams,
    "Create an executor for the built-in template of that name (a key of BUILTIN_TEMPLATES).", from_builtin};

constexpr Param kFromFileParams[] = {{"runtime"}, {"template_path"}};
constexpr boundary::Method kFromFile{"from_file", Receiver::Class, kFromFileParams,
                                     "Create an executor for the UTF-8 text of a template file.", from_file};

constexpr Param kFromStringParams[] = {
    {"runtime"}, {"template_content", Kind::Str}, {"source_id", Kind::StrOrNone, boundary::Default::None}};
constexpr boundary::Method kFromString{
    "from_string", Receiver::Class, kFromStringParams,
    "Create an executor for template text; without a source_id the identifier is derived from the text.",
    from_string};

constexpr Param kCreateFromContentParams[] = {
    {"runtime"}, {"source_id", Kind::Str}, {"template_content", Kind::Str}};
constexpr boundary::Method kCreateFromContentMethod{
    "_create_from_content", Receiver::Class, kCreateFromContentParams,
    "Create an executor from template text under a source identifier.", create_from_content_impl};

constexpr boundary::Method kPostInitMethod{
    "__post_init__", Receiver::Self, {},
    "Create the DSL loader for the runtime, compile the template and find its variables.", post_init};
constexpr boundary::Method kCompileTemplateMethod{
    "_compile_template", Receiver::Self, {},
    "Fetch the compiled template from the module-wide compile cache.", compile_template};
constexpr boundary::Method kExtractTemplateVariablesMethod{
    "_extract_template_variables", Receiver::Self, {},
    "Find the variables the template reads from its rendering context.", extract_template_variables};

constexpr boundary::Binding kMethods[] = {
    boundary::bind<kFromBuiltin>(),
    boundary::bind<kFromFile>(),
    boundary::bind<kFromString>(),
    boundary::bind<kCreateFromContentMethod>(),
    boundary::bind<kPostInitMethod>(),
    boundary::bind<kCompileTemplateMethod>(),
    boundary::bind<kExtractTemplateVariablesMethod>(),
};

}  // namespace

std::span<const boundary::Binding> construction_methods() { return kMethods; }

}  // namespace zz::executor
