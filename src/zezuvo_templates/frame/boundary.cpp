#include "frame/boundary.hpp"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace zz::boundary {
namespace {

std::size_t required_count(const Method& m) {
    std::size_t n = 0;
    for (const Param& p : m.params) n += p.def == Default::Required;
    return n;
}

Py_ssize_t receiver_count(const Method& m) { return m.receiver == Receiver::None ? 0 : 1; }

void raise_count(const Method& m, bool too_many, Py_ssize_t given) {
    const Py_ssize_t all = static_cast<Py_ssize_t>(m.params.size());
    const Py_ssize_t required = static_cast<Py_ssize_t>(required_count(m));
    const bool exact = all == required;
    const char* how = exact ? "exactly" : (too_many ? "at most" : "at least");
    const Py_ssize_t n = (too_many ? all : required) + receiver_count(m);
    PyErr_Format(PyExc_TypeError, "%s() takes %s %zd positional argument%s (%zd given)", m.name, how, n,
                 n == 1 ? "" : "s", given + receiver_count(m));
}

PyObject* default_value(const Param& p) {
    switch (p.def) {
    case Default::None: return Py_NewRef(Py_None);
    case Default::True: return Py_NewRef(Py_True);
    case Default::Text: return PyUnicode_FromString(p.text);
    case Default::Required: break;
    }
    return nullptr;
}

// What float() converts: __float__ or __index__ (__int__ alone is no floating-point number).
bool converts_to_float(PyObject* v) {
    PyNumberMethods* nb = Py_TYPE(v)->tp_as_number;
    return nb != nullptr && (nb->nb_float != nullptr || nb->nb_index != nullptr);
}

// Integer conversion: exact int kept, other numbers truncated toward zero.
Ref to_int(PyObject* v, const Param& p) {
    if (PyLong_CheckExact(v)) return Ref::borrow(v);
    if (PyLong_Check(v) || PyFloat_Check(v)) return Ref::steal(PyNumber_Long(v));
    PyNumberMethods* nb = Py_TYPE(v)->tp_as_number;
    if (nb != nullptr && (nb->nb_int != nullptr || nb->nb_index != nullptr)) return Ref::steal(PyNumber_Long(v));
    if (nb != nullptr && nb->nb_float != nullptr) {
        Ref f = Ref::steal(PyNumber_Float(v));
        return f ? Ref::steal(PyNumber_Long(f.get())) : Ref();
    }
    raise_incorrect_type(p.name, "int", v);
    return {};
}

// Floating-point conversion: exact float kept, ints and other numbers converted.
Ref to_float(PyObject* v, const Param& p) {
    if (PyFloat_CheckExact(v)) return Ref::borrow(v);
    if (PyLong_Check(v)) {
        const double d = PyLong_AsDouble(v);
        if (d == -1.0 && PyErr_Occurred()) return {};
        return Ref::steal(PyFloat_FromDouble(d));
    }
    if (PyFloat_Check(v) || converts_to_float(v)) return Ref::steal(PyNumber_Float(v));
    raise_incorrect_type(p.name, "float", v);
    return {};
}

bool convert(const Param& p, Ref& value) {
    PyObject* v = value.get();
    const bool none = v == Py_None;
    switch (p.kind) {
    case Kind::IntOrNone:
        if (none) return true;
        [[fallthrough]];
    case Kind::Int: value = to_int(v, p); return bool(value);
    case Kind::FloatOrNone:
        if (none) return true;
        [[fallthrough]];
    case Kind::Float: value = to_float(v, p); return bool(value);
    case Kind::Bool: {
        const int truth = PyObject_IsTrue(v);
        if (truth < 0) return false;
        value = Ref::borrow(truth ? Py_True : Py_False);
        return true;
    }
    default: return true;
    }
}

bool type_test(const Param& p, PyObject* v) {
    switch (p.kind) {
    case Kind::StrOrNone:
        if (v == Py_None) return true;
        [[fallthrough]];
    case Kind::Str:
        if (PyUnicode_CheckExact(v)) return true;
        raise_incorrect_type(p.name, "str", v);
        return false;
    case Kind::DictOrNone:
        if (v == Py_None) return true;
        [[fallthrough]];
    case Kind::Dict:
        if (PyDict_CheckExact(v)) return true;
        raise_incorrect_type(p.name, "dict", v);
        return false;
    default: return true;
    }
}

Py_ssize_t param_index(const Method& m, PyObject* keyword) {
    for (std::size_t i = 0; i < m.params.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, m.params[i].name) == 0) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

std::string text_signature(const Method& m) {
    std::string s = std::string(m.name) + "(";
    bool first = true;
    auto add = [&](const std::string& part) {
        if (!first) s += ", ";
        s += part;
        first = false;
    };
    if (m.receiver == Receiver::Self) add("$self");
    if (m.receiver == Receiver::Class) add("$cls");
    for (const Param& p : m.params) {
        std::string part = p.name;
        switch (p.def) {
        case Default::None: part += "=None"; break;
        case Default::True: part += "=True"; break;
        case Default::Text: part += std::string("='") + p.text + "'"; break;
        case Default::Required: break;
        }
        add(part);
    }
    return s + ")\n--\n\n" + m.doc;
}

// What attach() put into a class, for OwnMethod's identity test.  The
// descriptors are kept for the life of the process, like the classes.
struct Attached {
    PyTypeObject* cls;
    PyObject* name;
    PyObject* descr;
    OwnMethod::Entry entry;
};
std::vector<Attached> attached;

PyMethodDef* make_def(const Binding& b) {
    // Descriptors keep pointers to their PyMethodDef and docstring: both live
    // for the life of the process, like the module itself.
    static std::deque<std::string> docs;
    static std::deque<PyMethodDef> defs;
    docs.push_back(text_signature(*b.method));
    int flags = METH_FASTCALL | METH_KEYWORDS;
    if (b.method->receiver == Receiver::Class) flags |= METH_CLASS;
    defs.push_back(PyMethodDef{b.method->name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(b.entry)),
                               flags, docs.back().c_str()});
    return &defs.back();
}

}  // namespace

void raise_incorrect_type(const char* parameter, const char* expected, PyObject* value) {
    Ref type_name = Ref::steal(PyType_GetName(Py_TYPE(value)));
    if (!type_name) return;
    PyErr_Format(PyExc_TypeError, "Argument '%s' has incorrect type (expected %s, got %U)", parameter, expected,
                 type_name.get());
}

bool parse(const Method& m, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) {
    const Py_ssize_t count = static_cast<Py_ssize_t>(m.params.size());
    if (nargs > count) {
        raise_count(m, true, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out.slot(i) = Ref::borrow(args[i]);

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = nargs; i < count; ++i) {
        const Param& p = m.params[i];
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, k), p.name) == 0) {
                out.slot(i) = Ref::borrow(args[nargs + k]);
                break;
            }
        }
        if (out[i] == nullptr) {
            if (p.def == Default::Required) {
                raise_count(m, false, i);
                return false;
            }
            out.slot(i) = Ref::steal(default_value(p));
            if (out[i] == nullptr) return false;
        }
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const Py_ssize_t i = param_index(m, keyword);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", m.name, keyword);
            return false;
        }
        if (i < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", m.name, keyword);
            return false;
        }
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!convert(m.params[i], out.slot(i))) return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!type_test(m.params[i], out[i])) return false;
    }
    return true;
}

bool attach(PyTypeObject* cls, std::span<const Binding> methods) {
    for (const Binding& b : methods) {
        PyMethodDef* def = make_def(b);
        Ref descr = Ref::steal(b.method->receiver == Receiver::Class ? PyDescr_NewClassMethod(cls, def)
                                                                    : PyDescr_NewMethod(cls, def));
        Ref name = descr ? Ref::steal(PyUnicode_InternFromString(def->ml_name)) : Ref();
        if (!name || PyObject_SetAttr(reinterpret_cast<PyObject*>(cls), name.get(), descr.get()) < 0) return false;
        if (b.method->receiver == Receiver::Self) attached.push_back({cls, name.release(), descr.release(), b.entry});
    }
    return true;
}

OwnMethod::Entry OwnMethod::direct(PyObject* receiver) {
    PyTypeObject* cls = Py_TYPE(receiver);
    PyObject* name = name_.get();
    if (name == nullptr) {
        PyErr_Clear();  // the Python-level call reports it again
        return nullptr;
    }
    if (cls != cls_) {
        const auto it = std::find_if(attached.begin(), attached.end(),
                                     [&](const Attached& a) { return a.cls == cls && a.name == name; });
        if (it == attached.end()) return nullptr;
        cls_ = cls;
        descr_ = it->descr;
        entry_ = it->entry;
    }
    // A str key cannot make the lookup fail; a missing name is simply not ours.
    return PyDict_GetItemWithError(cls->tp_dict, name) == descr_ ? entry_ : nullptr;
}

Ref make_function(const Binding& b, PyObject* module_name) {
    return Ref::steal(PyCFunction_NewEx(make_def(b), nullptr, module_name));
}

}  // namespace zz::boundary
