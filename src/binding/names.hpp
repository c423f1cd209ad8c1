// Interned attribute and method names, created on first use and kept for
// the life of the process.
#pragma once

#include "binding/python.hpp"

namespace vx::names {

// Returns a borrowed, immortal-for-our-purposes interned string.
PyObject* intern(const char* text) noexcept;

#define VX_NAME(ident) \
  inline PyObject* ident() noexcept { static PyObject* s = intern(#ident); return s; }
VX_NAME(add_note)
VX_NAME(type)
VX_NAME(value)
#undef VX_NAME

}  // namespace vx::names
