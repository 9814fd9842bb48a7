#include "templates/template_cache.hpp"

#include "frame/boundary.hpp"
#include "frame/clock.hpp"
#include "frame/globals.hpp"
#include "frame/subsystems.hpp"
#include "records/records.hpp"

namespace zz::templates {

records::RecordType TemplateCache;

namespace {

using boundary::Kind;
using boundary::Param;
using globals::Name;
namespace ct = records::cached_template;

Ref os_path_module() {
    Ref os = globals::get(Name::os);
    return os ? Ref::steal(PyObject_GetAttrString(os.get(), "path")) : Ref();
}

}  // namespace

Ref hex_digest(const char* algorithm, PyObject* text) {
    Ref data = Ref::steal(PyUnicode_AsUTF8String(text));
    if (!data) return {};
    Ref hashlib = globals::get(Name::hashlib);
    if (!hashlib) return {};
    Ref hash = Ref::steal(PyObject_CallMethod(hashlib.get(), algorithm, "O", data.get()));
    if (!hash) return {};
    return Ref::steal(PyObject_CallMethod(hash.get(), "hexdigest", nullptr));
}

namespace {

// os.path.exists(path); -1 on error.  Existence and modification time are
// both asked of os.path, so that they agree on every key (pathlib reads ""
// as ".", which exists, while os.path.getmtime("") fails).
int path_exists(PyObject* path) {
    Ref os_path = os_path_module();
    Ref exists = os_path ? Ref::steal(PyObject_CallMethod(os_path.get(), "exists", "O", path)) : Ref();
    return exists ? PyObject_IsTrue(exists.get()) : -1;
}

// os.path.getmtime(path)
Ref modification_time(PyObject* path) {
    Ref os_path = os_path_module();
    return os_path ? Ref::steal(PyObject_CallMethod(os_path.get(), "getmtime", "O", path)) : Ref();
}

// The cached entry's template when the entry is current for this content, else null (no error).
Ref current_template(PyObject* entry, PyObject* path, PyObject* content_hash) {
    const int exists = path_exists(path);
    if (exists < 0) return {};
    if (exists) {
        Ref mtime = modification_time(path);
        Ref entry_mtime = mtime ? records::CachedTemplate.get(entry, ct::mtime) : Ref();
        if (!entry_mtime) return {};
        const int fresh = PyObject_RichCompareBool(entry_mtime.get(), mtime.get(), Py_GE);
        if (fresh <= 0) return {};
    }
    Ref entry_hash = records::CachedTemplate.get(entry, ct::content_hash);
    if (!entry_hash) return {};
    const int same = PyObject_RichCompareBool(entry_hash.get(), content_hash, Py_EQ);
    if (same <= 0) return {};
    return records::CachedTemplate.get(entry, ct::template_);
}

PyObject* get_template(PyObject* self, const boundary::Args& a) {
    PyObject* path = a[0];
    PyObject* content = a[1];
    Ref content_hash = hex_digest("md5", content);
    if (!content_hash) return nullptr;
    Ref cache = TemplateCache.get(self, template_cache::cache);
    if (!cache) return nullptr;
    Ref entry = Ref::steal(PyObject_GetItem(cache.get(), path));
    if (entry) {
        Ref hit = current_template(entry.get(), path, content_hash.get());
        if (hit || PyErr_Occurred()) return hit.release();
    } else if (PyErr_ExceptionMatches(PyExc_KeyError)) {
        PyErr_Clear();
    } else {
        return nullptr;
    }

    Ref template_type = globals::get(Name::Template);
    if (!template_type) return nullptr;
    Ref compiled = Ref::steal(PyObject_CallOneArg(template_type.get(), content));
    if (!compiled) return nullptr;
    const int exists = path_exists(path);
    if (exists < 0) return nullptr;
    Ref mtime = exists ? modification_time(path) : clock::epoch_now();
    Ref fresh_entry = records::CachedTemplate.make({compiled.get(), mtime.get(), content_hash.get()});
    if (!fresh_entry || PyObject_SetItem(cache.get(), path, fresh_entry.get()) < 0) return nullptr;
    return compiled.release();
}

PyObject* clear(PyObject* self, const boundary::Args&) {
    Ref cache = TemplateCache.get(self, template_cache::cache);
    if (!cache) return nullptr;
    Ref result = Ref::steal(PyObject_CallMethod(cache.get(), "clear", nullptr));
    return result ? Py_NewRef(Py_None) : nullptr;
}

constexpr Param kGetTemplateParams[] = {{"template_path", Kind::Str}, {"content", Kind::Str}};
constexpr boundary::Method kGetTemplate{
    "get_template", boundary::Receiver::Self, kGetTemplateParams,
    "Return the compiled template for content, compiling only when no current entry exists under template_path.",
    get_template};
constexpr boundary::Method kClear{"clear", boundary::Receiver::Self, {}, "Remove every entry.", clear};

constexpr records::Field kFields[] = {{"_cache", "dict[str, CachedTemplate]", records::Default::NewDict}};

}  // namespace

bool define_template_cache(PyObject* namespace_dict) {
    static const boundary::Binding kMethods[] = {boundary::bind<kGetTemplate>(), boundary::bind<kClear>()};
    if (!TemplateCache.define(namespace_dict,
                              {"TemplateCache",
                               "Module-wide cache of compiled templates, keyed by source identifier and checked "
                               "against the content digest and the modification time of a file at the key.",
                               kFields}) ||
        !boundary::attach(TemplateCache.type(), kMethods)) {
        return false;
    }
    Ref cache = Ref::steal(PyObject_CallNoArgs(TemplateCache.type_object()));
    return cache && globals::bind(Name::template_cache, cache.get());
}

}  // namespace zz::templates
