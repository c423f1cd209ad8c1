#include "binding/thread_bound.hpp"

namespace vx {

bool ThreadBound::may_drop(const char* native_name) const noexcept {
  if (on_owner_thread()) return true;
  const std::string msg = std::string(native_name) + " is unsendable, but is being dropped on another thread";
  report_unraisable([&] { PyErr_SetString(PyExc_RuntimeError, msg.c_str()); });
  return false;
}

bool ThreadBound::may_clear(const char* native_name) const noexcept {
  if (on_owner_thread()) return true;
  report_unraisable_internal_failure((std::string(native_name) + " is unsendable, but sent to another thread").c_str());
  return false;
}

}  // namespace vx
