#include "binding/imports.hpp"

#include <array>
#include <atomic>

namespace vx {
namespace {

// The interned string of a name that callers pass as a string literal, kept
// for the life of the process and found again by the literal's address, so
// a lookup at each use neither allocates nor hashes; nullptr with the error
// pending. Past the table's size a name is made afresh at each use.
Ref literal_name(const char* text) {
  static constexpr size_t kSlots = 32;
  static std::array<std::atomic<const char*>, kSlots> keys{};
  static std::array<std::atomic<PyObject*>, kSlots> values{};
  for (size_t i = 0; i < kSlots; ++i) {
    const char* key = keys[i].load(std::memory_order_acquire);
    if (key == nullptr) {
      Ref fresh = Ref::steal(PyUnicode_InternFromString(text));
      if (!fresh) return fresh;
      const char* expected = nullptr;
      if (keys[i].compare_exchange_strong(expected, text, std::memory_order_acq_rel)) {
        values[i].store(fresh.share().release(), std::memory_order_release);  // kept for good
        return fresh;
      }
      key = expected;  // taken meanwhile: look at what it holds
    }
    if (key == text) {
      if (PyObject* v = values[i].load(std::memory_order_acquire)) return Ref::borrow(v);
      break;  // being filled right now
    }
  }
  return Ref::steal(PyUnicode_FromString(text));
}

// Imports once and publishes the first object stored; a concurrent first use
// on another thread (possible while the import runs Python code) may import
// too, and then keeps the published one.
Result<PyObject*> cached(std::atomic<PyObject*>& cell, const char* module, const char* attr) {
  if (PyObject* p = cell.load(std::memory_order_acquire)) return p;
  VX_TRY(Ref fresh, import_attr(module, attr));
  return publish_once(cell, fresh.release());
}

}  // namespace

Result<Ref> import_module(const char* module) {
  Ref module_name = literal_name(module);
  if (!module_name) return Error::pending();
  // The loaded module first, as the import statement does; the full import
  // only when it is not loaded (or sys.modules holds None for it, which the
  // import reports).
  PyObject* found = nullptr;
  if (PyDict_GetItemRef(PyImport_GetModuleDict(), module_name.get(), &found) < 0) return Error::pending();
  Ref mod = Ref::steal(found);
  if (!mod || mod.get() == Py_None) {
    mod = Ref::steal(PyImport_Import(module_name.get()));
    if (!mod) return Error::pending();
  }
  return mod;
}

Result<Ref> import_attr(const char* module, const char* attr) {
  VX_TRY(Ref mod, import_module(module));
  Ref attr_name = literal_name(attr);
  if (!attr_name) return Error::pending();
  Ref obj = Ref::steal(PyObject_GetAttr(mod.get(), attr_name.get()));
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

}  // namespace vx
