#include <atomic>
#include <cstdio>
#include <exception>

#include "binding/boundary.hpp"

namespace vx {

PyObject* panic_exception_type() noexcept {
  static std::atomic<PyObject*> cell{nullptr};
  PyObject* t = cell.load(std::memory_order_acquire);
  if (t) return t;
  PyObject* fresh = PyErr_NewExceptionWithDoc(
      "_core_rs.PanicException",
      "The exception raised when the native core meets a broken invariant.\n\n"
      "Like SystemExit, it derives from BaseException, so that an ordinary\n"
      "`except Exception` does not swallow it.",
      PyExc_BaseException, nullptr);
  if (!fresh) return nullptr;
  return publish_once(cell, fresh);
}

void raise_internal_failure(const char* message) noexcept {
  std::fprintf(stderr, "vexlor._core_rs: internal failure: %s\n", message);
  std::fflush(stderr);
  PyObject* t = panic_exception_type();
  if (!t) return;  // creation failed and left its own exception pending
  const Ref msg = Ref::steal(PyUnicode_DecodeUTF8(
      message, static_cast<Py_ssize_t>(std::char_traits<char>::length(message)), "replace"));
  if (!msg) return;
  PyErr_SetObject(t, msg.get());
}

void report_unraisable_internal_failure(const char* message) noexcept {
  report_unraisable([&] { raise_internal_failure(message); });
}

void raise_current_exception() noexcept {
  try {
    throw;
  } catch (const InternalFailure& p) {
    raise_internal_failure(p.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal_failure(e.what());
  } catch (...) {
    raise_internal_failure("unknown native exception");
  }
}

}  // namespace vx
