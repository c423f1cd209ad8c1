// Ref: the one owning reference type.
//
// A Ref owns one strong reference or none. Ownership is chosen by name:
// Ref::steal takes over a new reference, Ref::borrow adds one. Copies are
// spelled out with share(). Convention in the whole code base: a Ref passed
// by value (or as Ref&&, take_token in lexer/py_token.hpp) is taken over; a
// raw PyObject* parameter is borrowed, except for the two that say they take
// over a new reference: checked() (binding/objects.hpp) and publish_once()
// below.
//
// Owned references held otherwise than in a Ref: the process caches, atomic
// cells that keep their object for good (the class objects, PanicException,
// interned names, the names of look-ups by name, collections.abc.Sequence);
// WatchedAttr's kept module and value (binding/imports.hpp); and the values
// of a keyword dict that BoundArgs took a reference to, marked by a bit each
// among borrowed ones (binding/args.hpp).
//
// What runs Python code. Releasing a reference can run any Python code (a
// finaliser, and whatever it does), so a release is treated as a call: the
// state it could see is complete before it, and what was read before it is
// held, not pointed at, if it is used after it. Making an object runs none:
// on CPython 3.13 and 3.14 an allocation at most schedules the cyclic
// garbage collector, which then runs at the interpreter's eval breaker
// (between the bytecodes of Python code) or in PyErr_CheckSignals
// (binding/signals.hpp), never inside the allocation. Everything else that
// runs Python code is a call into it: a callback, a conversion (__index__,
// __str__, a sequence's iteration), a comparison or an attribute look-up of
// a user's object, an import.
#pragma once

#include <atomic>
#include <utility>

#include "binding/python.hpp"

namespace vx {

class Ref {
 public:
  Ref() noexcept = default;
  [[nodiscard]] static Ref steal(PyObject* p) noexcept { return Ref(p); }
  [[nodiscard]] static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  [[nodiscard]] static Ref none() noexcept { return borrow(Py_None); }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  // Stores first and releases the old object last: releasing may run
  // arbitrary Python code, which must see this Ref already updated.
  Ref& operator=(Ref&& o) noexcept {
    PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
    Py_XDECREF(old);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  [[nodiscard]] Ref share() const noexcept { return borrow(p_); }
  [[nodiscard]] PyObject* get() const noexcept { return p_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept { *this = Ref(); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

// Publishes `fresh` (a new reference, taken over) in `cell` unless the cell
// already holds an object, and returns the object the cell holds, borrowed
// and kept for the life of the process. Another thread's object published
// meanwhile wins, and `fresh` is released.
template <class T>
T* publish_once(std::atomic<T*>& cell, T* fresh) noexcept {
  T* expected = nullptr;
  if (cell.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) return fresh;
  Py_DECREF(fresh);
  return expected;
}

}  // namespace vx
