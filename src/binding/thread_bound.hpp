// Objects bound to the thread that created them.
#pragma once

#include <string>

#include "binding/python.hpp"
#include "common/panic.hpp"

namespace vx {

class ThreadBound {
 public:
  ThreadBound() noexcept : owner_(PyThread_get_thread_ident()) {}
  [[nodiscard]] bool on_owner_thread() const noexcept { return PyThread_get_thread_ident() == owner_; }
  // Use from another thread is an internal failure.
  void check(const char* native_name) const {
    if (!on_owner_thread()) panic(std::string(native_name) + " is unsendable, but sent to another thread");
  }
  // Call from dealloc: true when the native state may be released here.
  // Otherwise reports RuntimeError "... is being dropped on another thread"
  // as unraisable; the caller then leaks the native state on purpose.
  [[nodiscard]] bool may_drop(const char* native_name, PyObject* self) const noexcept;

 private:
  unsigned long owner_;
};

}  // namespace vx
