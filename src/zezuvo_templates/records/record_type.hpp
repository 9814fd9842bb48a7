// Classes of the module built as the host's own slots data classes, from a
// table of fields, plus direct slot access so that C++ can create and read
// instances without going through the Python-level __init__ or getattr.
#pragma once
#include <Python.h>

#include <initializer_list>
#include <span>
#include <vector>

#include "ref.hpp"

namespace zz::records {

enum class Default : unsigned char { Required, None, NewDict, NewSet, Factory };

struct Field {
    const char* name;
    const char* type;  // the declared type, as text
    Default def = Default::Required;
    bool init = true;                  // a parameter of the generated __init__
    PyObject* (*factory)() = nullptr;  // Default::Factory: new reference to a callable
};

struct ClassSpec {
    const char* name;
    const char* doc;
    std::span<const Field> fields;
    // Whether the generated __init__ calls __post_init__ (attached afterwards).
    bool post_init = false;
};

inline constexpr const char* kModuleName = "brevant.zezuvo_templates";

class RecordType {
public:
    // Builds the data class and binds it in the module namespace.
    bool define(PyObject* namespace_dict, const ClassSpec& spec);

    PyTypeObject* type() const noexcept { return type_; }
    PyObject* type_object() const noexcept { return reinterpret_cast<PyObject*>(type_); }
    bool is_exact(PyObject* obj) const noexcept { return Py_TYPE(obj) == type_; }

    // A new instance, every slot filled from `values` (borrowed, one per field).
    // A null value means an error is already set: no instance is made.
    Ref make(std::initializer_list<PyObject*> values) const;

    // A field's value: a slot read for exact instances, getattr for anything else.
    Ref get(PyObject* obj, std::size_t field) const;
    // Borrowed slot value of an exact instance; null when the slot is empty.
    PyObject* peek(PyObject* obj, std::size_t field) const noexcept {
        return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + offsets_[field]);
    }
    // Replaces a slot of an exact instance (steals nothing; adds a reference).
    void put(PyObject* obj, std::size_t field, PyObject* value) const noexcept {
        PyObject** slot = reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + offsets_[field]);
        Py_INCREF(value);
        Py_XSETREF(*slot, value);
    }
    // Writes a field: the slot of an exact instance, setattr for anything else.
    bool set(PyObject* obj, std::size_t field, PyObject* value) const {
        if (is_exact(obj)) {
            put(obj, field, value);
            return true;
        }
        return PyObject_SetAttr(obj, names_[field], value) == 0;
    }
    PyObject* field_name(std::size_t field) const noexcept { return names_[field]; }

private:
    PyTypeObject* type_ = nullptr;
    std::vector<Py_ssize_t> offsets_;
    std::vector<PyObject*> names_;  // interned field names
};

}  // namespace zz::records
