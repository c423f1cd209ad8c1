// Objects bound to the thread that created them.
//
// A thread-bound record R has the members `BorrowFlag borrow` and
// `ThreadBound thread`, and names its native type in
// `static constexpr const char* kNativeName`. Every entry from Python runs
// the thread check (use from another thread is an internal failure) before
// it reads or changes anything of the record, and then takes shared access;
// the helpers below are those entries. What comes before the check touches
// only the arguments: a method binds them first, and a setter converts its
// new value first (a conversion may run Python code, on whatever thread
// calls).
#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "binding/args.hpp"
#include "binding/borrow.hpp"
#include "binding/boundary.hpp"
#include "binding/properties.hpp"
#include "binding/type_def.hpp"
#include "common/internal_failure.hpp"

namespace vx {

class ThreadBound {
 public:
  ThreadBound() noexcept : owner_(PyThread_get_thread_ident()) {}
  [[nodiscard]] bool on_owner_thread() const noexcept { return PyThread_get_thread_ident() == owner_; }
  // Use from another thread is an internal failure.
  void check(const char* native_name) const {
    if (!on_owner_thread()) internal_failure(std::string(native_name) + " is unsendable, but sent to another thread");
  }
  // Call from dealloc: true when the native state may be released here.
  // Otherwise reports RuntimeError "... is being dropped on another thread"
  // as unraisable; the caller then leaks the native state on purpose.
  [[nodiscard]] bool may_drop(const char* native_name) const noexcept;
  // Call from a garbage-collector clear: true on the owner thread; otherwise
  // reports the "sent to another thread" failure as unraisable.
  [[nodiscard]] bool may_clear(const char* native_name) const noexcept;

 private:
  unsigned long owner_;
};

// The thread check, then shared access for the rest of the call.
template <class R>
[[nodiscard]] Result<SharedGuard> enter_bound(PyObject* self) {
  R& r = unbox<R>(self);
  r.thread.check(R::kNativeName);
  return borrow_shared(r.borrow);
}

// A vectorcall method of a thread-bound record: binds the arguments by the
// signature `Sig`, enters, and runs `Impl(self, record, args)`.
template <class R, class Sig, auto Impl>
PyObject* bound_method(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(typename Sig::Args a, Sig::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(auto guard, enter_bound<R>(self));
    return Impl(self, unbox<R>(self), a);
  });
}

// A method without arguments (METH_NOARGS) of a thread-bound record.
template <class R, auto Impl>
PyObject* bound_noargs(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter_bound<R>(self));
    return Impl(self, unbox<R>(self));
  });
}

// Property getter and setter of a thread-bound record. The setter converts
// the new value before entering; its write returns Void when it can fail.
template <class R, class Read>
PyObject* bound_get(PyObject* self, Read&& read) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, enter_bound<R>(self));
    return read(unbox<R>(self));
  });
}
template <class R, class Convert, class Write>
int bound_set(PyObject* self, PyObject* v, Convert&& convert, Write&& write) {
  return boundary_int([&]() -> Void {
    if (!v) return no_deleter();
    VX_TRY(auto native, convert(v));
    VX_TRY(auto guard, enter_bound<R>(self));
    if constexpr (std::is_void_v<decltype(write(unbox<R>(self), std::move(native)))>) {
      write(unbox<R>(self), std::move(native));
      return ok();
    } else {
      return write(unbox<R>(self), std::move(native));
    }
  });
}

// True when the garbage collector's traverse may read the record: on the
// owner thread and while nobody holds it exclusively.
template <class R>
[[nodiscard]] bool bound_traversable(PyObject* self) noexcept {
  R& r = unbox<R>(self);
  return r.thread.on_owner_thread() && !r.borrow.held_exclusively();
}

// The garbage collector's clear: the thread check, then `take(record)`
// under exclusive access; what it returns is released after the access is
// given back. A refused access changes nothing.
template <class R, class Take>
int bound_clear(PyObject* self, Take&& take) {
  R& r = unbox<R>(self);
  if (!r.thread.may_clear(R::kNativeName)) return 0;
  return clear_record<R>(self, std::forward<Take>(take));
}

// Dealloc: the native state is released only on the owner thread.
template <class R>
void bound_dealloc(PyObject* self) {
  if (unbox<R>(self).thread.may_drop(R::kNativeName)) {
    dealloc_box<R>(self);
    return;
  }
  PyTypeObject* tp = Py_TYPE(self);
  if (PyType_HasFeature(tp, Py_TPFLAGS_HAVE_GC)) PyObject_GC_UnTrack(self);
  tp->tp_free(self);
  Py_DECREF(tp);
}

}  // namespace vx

// A read/write unsigned 64-bit field `field` of thread-bound record R.
#define VX_BOUND_U64_PROPERTY(R, getter, setter, field, note) \
  VX_U64_FIELD(::vx::bound_get, ::vx::bound_set, R, getter, setter, field, note)
