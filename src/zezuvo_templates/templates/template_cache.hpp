// The module-wide compile cache: compiled templates keyed by source identifier.
#pragma once
#include "records/record_type.hpp"

namespace zz::templates {

extern records::RecordType TemplateCache;
namespace template_cache {
enum : std::size_t { cache };
}

// Digest ("md5", "sha256") of the text encoded as UTF-8 (strict), as
// lowercase hex digits, computed by the module's `hashlib`.
Ref hex_digest(const char* algorithm, PyObject* text);

}  // namespace zz::templates
