#include "binding/recursion.hpp"

namespace vx {
namespace {

thread_local int t_depth = 0;

}  // namespace

// Like the C API calls these stand beside, a refusal leaves its exception
// pending for the caller to report.
DepthGuard::DepthGuard(const char* where) noexcept {
  if (t_depth >= kMaxDepth) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
    return;
  }
  if (Py_EnterRecursiveCall(where) != 0) return;
  ++t_depth;
  active_ = true;
}

DepthGuard::~DepthGuard() {
  if (!active_) return;
  --t_depth;
  Py_LeaveRecursiveCall();
}

PyObject* nested_str(PyObject* value) noexcept {
  DepthGuard level(" while getting the str of an object");
  if (!level.active()) return nullptr;
  return PyObject_Str(value);
}

int nested_equal(PyObject* a, PyObject* b) noexcept {
  DepthGuard level(" in comparison");
  if (!level.active()) return -1;
  const Ref eq = Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
  if (!eq) return -1;
  return PyObject_IsTrue(eq.get());
}

}  // namespace vx
