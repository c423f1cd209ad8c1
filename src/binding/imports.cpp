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
  Ref name = Ref::steal(PyUnicode_FromString(module));
  if (!name) return Error::pending();
  Ref mod = Ref::steal(PyImport_GetModule(name.get()));
  if (!mod && PyErr_Occurred()) return Error::pending();
  if (!mod || mod.get() == Py_None) {  // a None entry: the full import reports it
    mod = Ref::steal(PyImport_Import(name.get()));
    if (!mod) return Error::pending();
  }
  Ref obj = Ref::steal(PyObject_GetAttrString(mod.get(), attr));
  if (!obj) return Error::pending();
  return obj;
}

Error package_exception(const char* module, const char* cls, std::initializer_list<PyObject*> args) {
  Result<Ref> klass = import_attr(module, cls);
  if (!klass.ok()) return std::move(klass).error();
  Ref made = Ref::steal(PyObject_Vectorcall(klass->get(), std::data(args), args.size(), nullptr));
  if (!made) return Error::pending();
  return Error::from_returned(std::move(made));
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
