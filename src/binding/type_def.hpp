// Class objects and instance boxes.
//
// Every class is a heap type made once per process from a PyType_Spec and
// kept in a TypeCell. Instances are boxes: the object header followed by a
// C++ value constructed in place after allocation and destroyed in dealloc.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "binding/error.hpp"

namespace vx {

// Optional step run once on a freshly made class (class attributes).
// It returns the name of the attribute that failed, or nullptr.
using ClassInit = const char* (*)(PyTypeObject*);

class TypeCell {
 public:
  // The class object (borrowed), made on first use. A failure to make it is
  // RuntimeError "An error occurred while initializing class {name}"; one of
  // `init` is "An error occurred while initializing `{name}.{attr}`"; both
  // carry the underlying exception as their cause.
  [[nodiscard]] Result<PyTypeObject*> get(PyType_Spec& spec, const char* name, ClassInit init = nullptr);
  // The class object if it was already made, else nullptr.
  [[nodiscard]] PyTypeObject* peek() const noexcept { return type_.load(std::memory_order_acquire); }

 private:
  std::atomic<PyTypeObject*> type_{nullptr};
};

// Error for a property deletion: AttributeError "property has no deleter".
[[nodiscard]] Error no_deleter();

// An instance: the object header followed by the native record T, which is
// constructed in place after allocation and destroyed in dealloc.
template <class T>
struct Box {
  PyObject_HEAD
  T value;
};

template <class T>
[[nodiscard]] inline T& unbox(PyObject* self) noexcept {
  return reinterpret_cast<Box<T>*>(self)->value;
}

// Allocates an instance of `tp` (tracked by the GC if the type is a GC type)
// and constructs its record from `args`. The construction must run no Python
// code, neither a call nor a release (binding/ref.hpp): the box is tracked
// already, and a collection would traverse it before its record exists.
template <class T, class... Args>
[[nodiscard]] Result<Ref> new_box(PyTypeObject* tp, Args&&... args) {
  PyObject* o = tp->tp_alloc(tp, 0);
  if (!o) return Error::pending();
  new (&reinterpret_cast<Box<T>*>(o)->value) T(std::forward<Args>(args)...);
  return Ref::steal(o);
}

// The standard dealloc: untrack (GC types), destroy the record, free the
// memory, release the heap type. Records of GC types hold Python objects
// that may be records of the same kind (a token whose value is a token, and
// so on); the interpreter's trashcan defers the inner deallocations of a
// long chain instead of recursing once per link. Without the trashcan
// macros in the interpreter's headers the body runs as it is.
template <class T>
void dealloc_box(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  if (!PyType_HasFeature(tp, Py_TPFLAGS_HAVE_GC)) {
    unbox<T>(self).~T();
    tp->tp_free(self);
    Py_DECREF(tp);
    return;
  }
  PyObject_GC_UnTrack(self);
#ifdef Py_TRASHCAN_BEGIN
  Py_TRASHCAN_BEGIN(self, dealloc_box<T>)
#endif
  unbox<T>(self).~T();
  tp->tp_free(self);
  Py_DECREF(tp);
#ifdef Py_TRASHCAN_BEGIN
  Py_TRASHCAN_END
#endif
}

}  // namespace vx
