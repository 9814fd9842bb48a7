// brevant.zezuvo_dsl: stand-in for the loader of the predicate rule language.
// It parses rendered rule text and feeds it to whatever object is assigned as
// its runtime, through that object's Python-level create_predicate method
// only, so fakes and the in-memory runtime are interchangeable.
#include <Python.h>

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ref.hpp"

namespace {

using zz::Ref;
using std::string_view;

// ------------------------------------------------------------------- parsing

struct Definition {
    string_view name;
    bool is_flow;
    string_view text;  // rule text without quotes, or flow body without indent
    bool is_start = false;
};

struct ParseError {
    std::size_t line = 0;
    std::string reason;
    string_view text;
};

bool is_identifier(string_view s) {
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (s.empty() || !alpha(s[0])) return false;
    for (char c : s)
        if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

// Splits on every occurrence of `sep`; "a" yields {"a"}, "" yields {""}.
std::vector<string_view> split(string_view s, string_view sep) {
    std::vector<string_view> parts;
    for (std::size_t pos; (pos = s.find(sep)) != string_view::npos; s.remove_prefix(pos + sep.size()))
        parts.push_back(s.substr(0, pos));
    parts.push_back(s);
    return parts;
}

// Built by appending: GCC 12 at -O3 flags `"..." + std::string` with a
// false -Wrestrict.
std::string quoted(string_view name, const char* what) {
    std::string s(1, '\'');
    s.append(name).append("' ").append(what);
    return s;
}

class Parser {
public:
    std::vector<Definition> defs;
    ParseError error;

    // Returns false and fills `error` on the first line it rejects.
    bool parse(string_view text) {
        lines_ = split(text, "\n");
        for (auto& line : lines_)
            if (line.ends_with('\r')) line.remove_suffix(1);
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            string_view line = lines_[i];
            std::size_t first = line.find_first_not_of(' ');
            if (first == string_view::npos || line[first] == '#') continue;
            Result r = parse_rule(i);
            if (r == NotMine) r = parse_flow(i);
            if (r == NotMine) r = parse_start(i);
            if (r == NotMine) r = fail(i, "cannot parse");
            if (r == Failed) return false;
        }
        return resolve_start();
    }

private:
    // NotMine: the line is not of the kind a parse_* function handles.
    enum Result { Ok, NotMine, Failed };

    std::vector<string_view> lines_;
    std::unordered_map<string_view, std::size_t> index_;  // name -> position in defs
    std::vector<string_view> start_names_;
    std::size_t start_line_ = 0;
    bool has_start_ = false;

    Result fail(std::size_t i, std::string reason) {
        error = {i + 1, std::move(reason), lines_[i]};
        return Failed;
    }

    Result define(std::size_t i, string_view name, bool is_flow, string_view text) {
        if (index_.contains(name)) return fail(i, quoted(name, "is already defined"));
        index_.emplace(name, defs.size());
        defs.push_back({name, is_flow, text});
        return Ok;
    }

    Result parse_rule(std::size_t i) {
        string_view line = lines_[i];
        std::size_t eq = line.find(" = \"");
        if (eq == string_view::npos || !is_identifier(line.substr(0, eq))) return NotMine;
        string_view quoted = line.substr(eq + 3);
        if (quoted.size() < 2 || !quoted.ends_with('"')) return fail(i, "cannot parse");
        string_view text = quoted.substr(1, quoted.size() - 2);
        if (text.find('"') != string_view::npos) return fail(i, "rule text must not contain '\"'");
        if (!text.starts_with("if ") || text.find(": ", 3) == string_view::npos)
            return fail(i, "rule text must start with 'if ' and contain ': '");
        return define(i, line.substr(0, eq), false, text);
    }

    Result parse_flow(std::size_t i) {
        string_view line = lines_[i];
        if (!line.starts_with("flow ") || !line.ends_with(':')) return NotMine;
        string_view name = line.substr(5, line.size() - 6);
        if (!is_identifier(name)) return fail(i, "cannot parse");
        std::size_t b = i + 1;
        if (b == lines_.size() || lines_[b].find_first_not_of(' ') == string_view::npos)
            return fail(i, "flow needs a body line right after it");
        string_view body = lines_[b];
        if (!body.starts_with("    ") || body.starts_with("     "))
            return fail(b, "flow body must be indented by exactly four spaces");
        body.remove_prefix(4);
        std::vector<string_view> names =
            body.ends_with(" -> @") ? split(body.substr(0, body.size() - 5), " -> ") : split(body, " | ");
        for (string_view n : names) {
            if (!is_identifier(n)) return fail(b, "cannot parse");
            if (!index_.contains(n)) return fail(b, quoted(n, "is not defined before this flow"));
        }
        if (define(i, name, true, body) == Failed) return Failed;
        lines_[b] = {};  // consumed: the main loop skips it as an empty line
        return Ok;
    }

    Result parse_start(std::size_t i) {
        string_view line = lines_[i];
        if (!line.starts_with("start:")) return NotMine;
        if (has_start_) return fail(i, "only one start line is allowed");
        has_start_ = true;
        start_line_ = i;
        string_view rest = line.substr(6);
        if (rest.empty() || rest == " ") return Ok;
        if (!rest.starts_with(' ')) return fail(i, "cannot parse");
        start_names_ = split(rest.substr(1), ", ");
        for (string_view n : start_names_)
            if (!is_identifier(n)) return fail(i, "cannot parse");
        return Ok;
    }

    // Start names are checked last so the start line may precede its flows.
    bool resolve_start() {
        for (string_view n : start_names_) {
            auto it = index_.find(n);
            if (it == index_.end() || !defs[it->second].is_flow) {
                fail(start_line_, quoted(n, "on the start line is not a flow"));
                return false;
            }
            defs[it->second].is_start = true;
        }
        return true;
    }
};

// -------------------------------------------------------------------- loader

struct Loader {
    PyObject_HEAD
    PyObject* runtime;
};

Loader* as_loader(PyObject* o) { return reinterpret_cast<Loader*>(o); }

PyObject* loader_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self) as_loader(self)->runtime = Py_NewRef(Py_None);
    return self;
}

int loader_init(PyObject*, PyObject* args, PyObject* kwds) {
    if (PyTuple_GET_SIZE(args) != 0 || (kwds && PyDict_GET_SIZE(kwds) != 0)) {
        PyErr_SetString(PyExc_TypeError, "ZeZuvoDSLLoader() takes no arguments");
        return -1;
    }
    return 0;
}

int loader_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_loader(self)->runtime);
    return 0;
}

int loader_clear(PyObject* self) {
    Py_CLEAR(as_loader(self)->runtime);
    return 0;
}

void loader_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    loader_clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

PyObject* get_runtime(PyObject* self, void*) {
    PyObject* rt = as_loader(self)->runtime;
    return Py_NewRef(rt ? rt : Py_None);  // null only after a GC clear
}

int set_runtime(PyObject* self, PyObject* value, void*) {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "zezuvoRuntime cannot be deleted; assign None instead");
        return -1;
    }
    PyObject* old = as_loader(self)->runtime;
    as_loader(self)->runtime = Py_NewRef(value);
    Py_XDECREF(old);
    return 0;
}

PyObject* str_of(string_view s) { return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr); }

PyObject* raise_parse_error(const ParseError& e) {
    Ref line = Ref::steal(str_of(e.text));
    if (line)
        PyErr_Format(PyExc_ValueError, "line %zu: %s: '%U'", e.line, e.reason.c_str(), line.get());
    return nullptr;
}

PyObject* create_all(PyObject* self, const std::vector<Definition>& defs, bool activate) {
    // Held across the calls: create_predicate may reassign zezuvoRuntime.
    Ref runtime = Ref::borrow(as_loader(self)->runtime);
    if (!runtime || runtime.get() == Py_None) {
        PyErr_SetString(PyExc_RuntimeError, "ZeZuvoDSLLoader.zezuvoRuntime is not set; assign a runtime before load()");
        return nullptr;
    }
    Ref create = Ref::steal(PyObject_GetAttrString(runtime.get(), "create_predicate"));
    if (!create) return nullptr;
    Ref start = Ref::steal(PySet_New(nullptr));
    Ref all = Ref::steal(PySet_New(nullptr));
    Ref rule_kind = Ref::steal(PyUnicode_FromString("rule"));
    Ref flow_kind = Ref::steal(PyUnicode_FromString("flow"));
    if (!start || !all || !rule_kind || !flow_kind) return nullptr;
    PyObject* active = activate ? Py_True : Py_False;
    for (const Definition& d : defs) {
        Ref name = Ref::steal(str_of(d.name));
        Ref text = name ? Ref::steal(str_of(d.text)) : Ref();
        if (!text) return nullptr;
        PyObject* kind = d.is_flow ? flow_kind.get() : rule_kind.get();
        Ref id = Ref::steal(PyObject_CallFunctionObjArgs(create.get(), name.get(), kind, text.get(), active, nullptr));
        if (!id || PySet_Add(all.get(), id.get()) < 0) return nullptr;
        if (d.is_start && PySet_Add(start.get(), id.get()) < 0) return nullptr;
    }
    return Py_BuildValue("(nOO)", static_cast<Py_ssize_t>(defs.size()), start.get(), all.get());
}

PyObject* loader_load(PyObject* self, PyObject* args, PyObject* kwds) {
    static const char* kwlist[] = {"dsl_text", "activate", nullptr};
    PyObject* text;
    PyObject* activate_obj = Py_True;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "U|O:load", const_cast<char**>(kwlist), &text, &activate_obj))
        return nullptr;
    int activate = PyObject_IsTrue(activate_obj);
    if (activate < 0) return nullptr;
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return nullptr;
    // Keeps `utf8` (owned by the str) valid while the parser's views use it.
    Ref keep = Ref::borrow(text);
    try {
        Parser parser;
        if (!parser.parse(string_view(utf8, static_cast<std::size_t>(size)))) return raise_parse_error(parser.error);
        return create_all(self, parser.defs, activate != 0);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyMethodDef loader_methods[] = {
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(loader_load)), METH_VARARGS | METH_KEYWORDS,
     "load($self, /, dsl_text, activate=True)\n--\n\n"
     "Return (created_count, start_ids, all_ids).  Parse the whole text, then create one predicate per rule and flow in text order.\n"
     "Raises ValueError naming the line when the text cannot be parsed; nothing is created then."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef loader_getset[] = {
    {"zezuvoRuntime", get_runtime, set_runtime, "Runtime that load() creates predicates in (None until set).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot loader_slots[] = {
    {Py_tp_doc, const_cast<char*>("ZeZuvoDSLLoader()\n--\n\nLoads rule-language text into zezuvoRuntime.")},
    {Py_tp_new, reinterpret_cast<void*>(loader_new)},
    {Py_tp_init, reinterpret_cast<void*>(loader_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(loader_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(loader_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(loader_clear)},
    {Py_tp_methods, loader_methods},
    {Py_tp_getset, loader_getset},
    {0, nullptr},
};

PyType_Spec loader_spec = {
    "brevant.zezuvo_dsl.ZeZuvoDSLLoader",
    sizeof(Loader),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    loader_slots,
};

// -------------------------------------------------------------------- module

int module_exec(PyObject* module) {
    Ref type = Ref::steal(PyType_FromModuleAndSpec(module, &loader_spec, nullptr));
    return type && PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type.get())) == 0 ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "brevant.zezuvo_dsl",
    "Stand-in loader for the predicate rule language.",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_zezuvo_dsl(void) { return PyModuleDef_Init(&module_def); }
