#include "frame/globals.hpp"
#include "frame/subsystems.hpp"

namespace zz::templates {

bool define_builtin_templates(PyObject*) {
    Ref catalogue = Ref::steal(PyDict_New());
    return catalogue && globals::bind(globals::Name::BUILTIN_TEMPLATES, catalogue.get());
}

}  // namespace zz::templates
