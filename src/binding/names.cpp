#include "binding/names.hpp"

namespace vx::names {

PyObject* intern(const char* text) noexcept {
  // The interpreter keeps interned strings; the caller keeps this reference
  // for the life of the process.
  return PyUnicode_InternFromString(text);
}

}  // namespace vx::names
