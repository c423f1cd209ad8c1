// Python modules and objects the core reaches by name.
//
// import_attr looks the module up at every call, so a module replaced in
// sys.modules is honoured and a missing one is imported; the
// collections.abc classes are imported once and kept.
#pragma once

#include <initializer_list>

#include "binding/error.hpp"

namespace vx {

// The module `module` as a new reference, taken from sys.modules when it is
// loaded there, imported otherwise (as the import statement does).
[[nodiscard]] Result<Ref> import_module(const char* module);
// `module.attr` as a new reference. Like the import statement, it takes the
// module from sys.modules when it is loaded there, and runs the full import
// only when it is not.
[[nodiscard]] Result<Ref> import_attr(const char* module, const char* attr);
// collections.abc.Sequence (borrowed, kept).
[[nodiscard]] Result<PyObject*> abc_sequence();

// The exception that `module.cls(*args)` makes, to be raised as it is (an
// object that is no exception gives TypeError), or the failure of the
// import or the call.
[[nodiscard]] Error package_exception(const char* module, const char* cls, std::initializer_list<PyObject*> args);

}  // namespace vx
