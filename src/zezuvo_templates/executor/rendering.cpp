// Template variables, argument validation and rendering.
#include "executor/executor.hpp"
#include "frame/python.hpp"
#include "frame/globals.hpp"

namespace zz::executor {
namespace {

using boundary::Kind;
using boundary::Param;
using boundary::Receiver;

Interned kValidateTemplateArgs{"validate_template_args"};
Interned kRender{"render"};
Interned kTemplateError{"TemplateError"};

PyObject* get_template_variables(PyObject* self, const boundary::Args&) {
    Ref variables = Executor.get(self, field::template_vars);
    return variables ? PySet_New(variables.get()) : nullptr;
}

PyObject* validate_template_args(PyObject* self, const boundary::Args& a) {
    PyObject* provided = a[0];
    Ref variables = Executor.get(self, field::template_vars);
    Ref missing = variables ? Ref::steal(PySet_New(nullptr)) : Ref();
    Ref it = missing ? Ref::steal(PyObject_GetIter(variables.get())) : Ref();
    if (!it) return nullptr;
    while (Ref name = Ref::steal(PyIter_Next(it.get()))) {
        const int present = PyDict_Contains(provided, name.get());
        if (present < 0 || (!present && PySet_Add(missing.get(), name.get()) < 0)) return nullptr;
    }
    if (PyErr_Occurred()) return nullptr;
    PyObject* valid = PySet_GET_SIZE(missing.get()) == 0 ? Py_True : Py_False;
    return PyTuple_Pack(2, valid, missing.get());
}

// The rendering step; an engine error comes back wrapped.
Ref render(PyObject* self, PyObject* template_args) {
    Ref compiled = Executor.get(self, field::compiled_template);
    if (!compiled) return {};
    if (compiled.get() == Py_None) {
        PyErr_SetString(PyExc_ValueError, "Template not compiled - this should not happen");
        return {};
    }
    PyObject* render_name = kRender.get();
    Ref method = render_name ? Ref::steal(PyObject_GetAttr(compiled.get(), render_name)) : Ref();
    Ref text = method ? Ref::steal(PyObject_VectorcallDict(method.get(), nullptr, 0, template_args)) : Ref();
    if (text) return text;

    // except jinja2.TemplateError as error: raise ValueError(...)
    Ref error = take_pending();
    Ref jinja2 = globals::get(globals::Name::jinja2);
    PyObject* error_name = jinja2 ? kTemplateError.get() : nullptr;
    Ref template_error = error_name ? Ref::steal(PyObject_GetAttr(jinja2.get(), error_name)) : Ref();
    if (!template_error) {
        chain_pending(std::move(error));
        return {};
    }
    if (!PyErr_GivenExceptionMatches(error.get(), template_error.get())) {
        restore(std::move(error));
        return {};
    }
    Ref message = Ref::steal(PyUnicode_FromFormat("Template rendering failed: %S", error.get()));
    raise_with_context(PyExc_ValueError, message.get(), std::move(error));
    return {};
}

PyObject* populate_template(PyObject* self, const boundary::Args& a) {
    PyObject* template_args = a[0];
    Ref result = call_method(self, kValidateTemplateArgs, template_args);
    Ref pair[2];
    if (!result || !unpack(result.get(), pair)) return nullptr;
    Ref& valid = pair[0];
    Ref& missing = pair[1];
    const int ok = PyObject_IsTrue(valid.get());
    if (ok < 0) return nullptr;
    if (!ok) {
        Ref message = Ref::steal(PyUnicode_FromFormat("Missing required template variables: %S", missing.get()));
        if (message) PyErr_SetObject(PyExc_ValueError, message.get());
        return nullptr;
    }
    return render(self, template_args).release();
}

constexpr Param kArgsParams[] = {{"template_args", Kind::Dict}};

constexpr boundary::Method kGetTemplateVariables{
    "get_template_variables", Receiver::Self, {},
    "Return a new set of the variables the template reads from its rendering context.", get_template_variables};
constexpr boundary::Method kValidateTemplateArgsMethod{
    "validate_template_args", Receiver::Self, kArgsParams,
    "Return (is_valid, missing): whether every template variable has a key in template_args, and the set of "
    "those that have none.",
    validate_template_args};
constexpr boundary::Method kPopulateTemplate{
    "populate_template", Receiver::Self, kArgsParams,
    "Render the template with template_args as its context and return the rule text.", populate_template};

constexpr boundary::Binding kMethods[] = {
    boundary::bind<kGetTemplateVariables>(),
    boundary::bind<kValidateTemplateArgsMethod>(),
    boundary::bind<kPopulateTemplate>(),
};

}  // namespace

std::span<const boundary::Binding> rendering_methods() { return kMethods; }

}  // namespace zz::executor
