#include "records/record_type.hpp"

#include <structmember.h>

#include "frame/globals.hpp"

namespace zz::records {
namespace {

// `field(...)` of the namespace's dataclasses, with the keyword arguments a
// table entry asks for; None when the plain default value suffices.
Ref field_default(const Field& f) {
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs) return {};
    auto put = [&](const char* key, PyObject* value) {
        return value != nullptr && PyDict_SetItemString(kwargs.get(), key, value) == 0;
    };
    bool ok = true;
    switch (f.def) {
    case Default::Required: break;
    case Default::None: ok = put("default", Py_None); break;
    case Default::NewDict: ok = put("default_factory", reinterpret_cast<PyObject*>(&PyDict_Type)); break;
    case Default::NewSet: ok = put("default_factory", reinterpret_cast<PyObject*>(&PySet_Type)); break;
    case Default::Factory: {
        Ref factory = Ref::steal(f.factory());
        ok = put("default_factory", factory.get());
        break;
    }
    }
    if (ok && !f.init) ok = put("init", Py_False);
    if (!ok) return {};
    Ref field = globals::get(globals::Name::field);
    if (!field) return {};
    Ref args = Ref::steal(PyTuple_New(0));
    return args ? Ref::steal(PyObject_Call(field.get(), args.get(), kwargs.get())) : Ref();
}

}  // namespace

bool RecordType::define(PyObject* namespace_dict, const ClassSpec& spec) {
    Ref ns = Ref::steal(PyDict_New());
    Ref annotations = Ref::steal(PyDict_New());
    if (!ns || !annotations) return false;
    for (const Field& f : spec.fields) {
        Ref type_text = Ref::steal(PyUnicode_FromString(f.type));
        if (!type_text || PyDict_SetItemString(annotations.get(), f.name, type_text.get()) < 0) return false;
        if (f.def == Default::None && f.init) {
            if (PyDict_SetItemString(ns.get(), f.name, Py_None) < 0) return false;
        } else if (f.def != Default::Required || !f.init) {
            Ref d = field_default(f);
            if (!d || PyDict_SetItemString(ns.get(), f.name, d.get()) < 0) return false;
        }
    }
    Ref doc = Ref::steal(PyUnicode_FromString(spec.doc));
    Ref module = Ref::steal(PyUnicode_FromString(kModuleName));
    Ref name = Ref::steal(PyUnicode_FromString(spec.name));
    if (!doc || !module || !name) return false;
    if (PyDict_SetItemString(ns.get(), "__annotations__", annotations.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__doc__", doc.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__module__", module.get()) < 0 ||
        PyDict_SetItemString(ns.get(), "__qualname__", name.get()) < 0) {
        return false;
    }
    // The decorator decides at decoration time whether __init__ calls
    // __post_init__; the real one (a C++ method) replaces this placeholder.
    if (spec.post_init && PyDict_SetItemString(ns.get(), "__post_init__", Py_None) < 0) return false;

    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return false;
    Ref plain = Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type), name.get(),
                                                        empty.get(), ns.get(), nullptr));
    if (!plain) return false;
    Ref dataclass = globals::get(globals::Name::dataclass);
    if (!dataclass) return false;
    Ref kwargs = Ref::steal(Py_BuildValue("{s:O}", "slots", Py_True));
    if (!kwargs) return false;
    Ref decorator = Ref::steal(PyObject_Call(dataclass.get(), empty.get(), kwargs.get()));
    if (!decorator) return false;
    Ref cls = Ref::steal(PyObject_CallOneArg(decorator.get(), plain.get()));
    if (!cls) return false;
    if (!PyType_Check(cls.get())) {
        PyErr_Format(PyExc_TypeError, "dataclass() did not return a class for %s", spec.name);
        return false;
    }

    std::vector<Py_ssize_t> offsets;
    std::vector<PyObject*> names;
    for (const Field& f : spec.fields) {
        Ref descr = Ref::steal(PyObject_GetAttrString(cls.get(), f.name));
        if (!descr) return false;
        if (!Py_IS_TYPE(descr.get(), &PyMemberDescr_Type)) {
            PyErr_Format(PyExc_TypeError, "%s.%s is not a slot", spec.name, f.name);
            return false;
        }
        offsets.push_back(reinterpret_cast<PyMemberDescrObject*>(descr.get())->d_member->offset);
        PyObject* interned = PyUnicode_InternFromString(f.name);
        if (interned == nullptr) return false;
        names.push_back(interned);  // kept for the life of the process
    }
    if (PyDict_SetItem(namespace_dict, name.get(), cls.get()) < 0) return false;
    Py_XDECREF(reinterpret_cast<PyObject*>(type_));
    type_ = reinterpret_cast<PyTypeObject*>(cls.release());
    offsets_ = std::move(offsets);
    names_ = std::move(names);
    return true;
}

Ref RecordType::make(std::initializer_list<PyObject*> values) const {
    for (PyObject* v : values) {
        if (v == nullptr) return {};
    }
    Ref obj = Ref::steal(type_->tp_alloc(type_, 0));
    if (!obj) return {};
    std::size_t i = 0;
    for (PyObject* v : values) put(obj.get(), i++, v);
    return obj;
}

Ref RecordType::get(PyObject* obj, std::size_t field) const {
    if (is_exact(obj)) {
        if (PyObject* v = peek(obj, field)) return Ref::borrow(v);
    }
    return Ref::steal(PyObject_GetAttr(obj, names_[field]));
}

}  // namespace zz::records
