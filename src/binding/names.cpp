#include "binding/names.hpp"

namespace vx::names {

PyObject* intern(const char* text) noexcept {
  // Interned strings are kept by the interpreter; we hold one more reference
  // for the life of the process.
  PyObject* s = PyUnicode_InternFromString(text);
  if (!s) PyErr_Clear();
  return s;
}

}  // namespace vx::names
