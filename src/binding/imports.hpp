// Python modules and objects the core reaches by name.
//
// import_attr imports at every call (the package's modules are looked up at
// the moment of use); the collections.abc classes are imported once and kept.
#pragma once

#include "binding/error.hpp"

namespace vx {

// `module.attr` as a new reference, importing `module` now.
[[nodiscard]] Result<Ref> import_attr(const char* module, const char* attr);
// collections.abc.Sequence and collections.abc.Iterator (borrowed, kept).
[[nodiscard]] Result<PyObject*> abc_sequence();
[[nodiscard]] Result<PyObject*> abc_iterator();

}  // namespace vx
