#include "binding/thread_bound.hpp"

namespace vx {

bool ThreadBound::may_drop(const char* native_name) const noexcept {
  if (on_owner_thread()) return true;
  PyObject* exc = PyErr_GetRaisedException();  // dealloc must not lose a pending exception
  std::string msg = std::string(native_name) + " is unsendable, but is being dropped on another thread";
  PyErr_SetString(PyExc_RuntimeError, msg.c_str());
  // No object is passed on: a dying object must not be handed to the unraisable hook.
  PyErr_WriteUnraisable(nullptr);
  PyErr_SetRaisedException(exc);
  return false;
}

bool ThreadBound::may_clear(const char* native_name) const noexcept {
  if (on_owner_thread()) return true;
  report_unraisable_internal_failure((std::string(native_name) + " is unsendable, but sent to another thread").c_str());
  return false;
}

}  // namespace vx
