#include "binding/imports.hpp"

#include <atomic>

namespace vx {
namespace {

// Imports once and publishes the first object stored; a concurrent first use
// on another thread (possible while the import runs Python code) may import
// too, and then keeps the published one.
Result<PyObject*> cached(std::atomic<PyObject*>& cell, const char* module, const char* attr) {
  if (PyObject* p = cell.load(std::memory_order_acquire)) return p;
  VX_TRY(Ref fresh, import_attr(module, attr));
  PyObject* expected = nullptr;
  if (cell.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) return fresh.release();
  return expected;
}

}  // namespace

Result<Ref> import_attr(const char* module, const char* attr) {
  Ref mod = Ref::steal(PyImport_ImportModule(module));
  if (!mod) return Error::pending();
  Ref obj = Ref::steal(PyObject_GetAttrString(mod.get(), attr));
  if (!obj) return Error::pending();
  return obj;
}

Result<PyObject*> abc_sequence() {
  static std::atomic<PyObject*> cell{nullptr};
  return cached(cell, "collections.abc", "Sequence");
}

Result<PyObject*> abc_iterator() {
  static std::atomic<PyObject*> cell{nullptr};
  return cached(cell, "collections.abc", "Iterator");
}

}  // namespace vx
