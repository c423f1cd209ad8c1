// Interned attribute and method names, created on first use and kept for
// the life of the process.
#pragma once

#include <atomic>

#include "binding/ref.hpp"

namespace vx::names {

// A new interned string, or nullptr with the error pending.
PyObject* intern(const char* text) noexcept;

// One interned name, kept once made. A failure to make it is not kept: the
// accessor returns nullptr with the error pending, and the next call tries
// again.
template <const char* Text>
PyObject* interned() noexcept {
  static std::atomic<PyObject*> cell{nullptr};
  PyObject* s = cell.load(std::memory_order_acquire);
  if (s) return s;
  s = intern(Text);
  if (!s) return nullptr;
  return publish_once(cell, s);
}

#define VX_NAME(ident)                                \
  inline constexpr char ident##_text[] = #ident;      \
  inline PyObject* ident() noexcept { return interned<ident##_text>(); }
VX_NAME(add_note)
VX_NAME(type)
VX_NAME(value)
VX_NAME(lineno)
VX_NAME(lexpos)
VX_NAME(index)
VX_NAME(end)
VX_NAME(action_style)
VX_NAME(func)
VX_NAME(namemap)
VX_NAME(lexer)
VX_NAME(parser)
VX_NAME(_namemap)
VX_NAME(__new__)
VX_NAME(values)
#undef VX_NAME

}  // namespace vx::names
