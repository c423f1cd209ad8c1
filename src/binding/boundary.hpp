// The boundary between Python and the core.
//
// Every method body, and every slot body that can fail, runs inside
// boundary(), boundary_int() or boundary_size(); traverse, dealloc and the
// clears that cannot fail do not, and neither do the steps of three slots
// that recurse through a user's value, kept out of the body to keep the
// frames of a deep recursion small (binding/recursion.hpp): the printed
// forms of Token and ParsedSymbol call the value's str() just before their
// body, Token == compares the two values outside a body (one reads the
// other side's value first when it is no native token), and Token != runs
// wholly outside one (it asks the interpreter for == and negates the
// answer). The body returns a Result; an Error becomes the pending Python
// exception here, and a vx::InternalFailure (a broken invariant) or any
// other C++ exception becomes PanicException after a report on standard
// error (std::bad_alloc becomes MemoryError). Only here, and where Token ==
// or != returns a failed comparison as the interpreter left it
// (lexer/py_token.cpp), is an exception left pending for the caller; a
// printed form takes a failed str() into its body. Inside a body one is
// pending for a moment only: a C API call that fails, or a DepthGuard
// refusal (binding/recursion.hpp, which works like one), leaves its
// exception, and the code at once takes it (Error::pending()), clears it or
// reports it as unraisable; report_unraisable() sets one just to report it.
// A body whose result is an empty Ref returns NULL with nothing set, which
// only a tp_iternext may do: it means the iterator is exhausted.
#pragma once

#include <new>

#include "binding/error.hpp"
#include "common/internal_failure.hpp"

namespace vx {

// Reports the exception that `raise()` leaves pending as unraisable, with no
// object (a dying object must not be handed to the unraisable hook), and
// keeps an exception that was pending before.
template <class Raise>
void report_unraisable(Raise&& raise) noexcept {
  PyObject* pending = PyErr_GetRaisedException();
  raise();
  PyErr_WriteUnraisable(nullptr);
  PyErr_SetRaisedException(pending);
}

// Reports `message` on standard error and sets PanicException(message).
void raise_internal_failure(const char* message) noexcept;

// Reports an internal failure where no exception can be raised (deallocation,
// garbage-collector clear): `message` on standard error and PanicException as
// unraisable. An exception already pending is kept.
void report_unraisable_internal_failure(const char* message) noexcept;

// PanicException, created once per process (borrowed; nullptr if creation failed).
PyObject* panic_exception_type() noexcept;

// Sets a pending exception for an escaped C++ exception.
void raise_current_exception() noexcept;

template <class F>
PyObject* boundary(F&& body) noexcept {
  try {
    Result<Ref> r = body();
    if (r.ok()) return std::move(r).value().release();
    std::move(r).error().raise();
  } catch (...) {
    raise_current_exception();
  }
  return nullptr;
}

template <class F>
int boundary_int(F&& body) noexcept {
  try {
    Void r = body();
    if (r.ok()) return 0;
    std::move(r).error().raise();
  } catch (...) {
    raise_current_exception();
  }
  return -1;
}

// For length slots: the body returns a Result<Py_ssize_t>; failure is -1.
template <class F>
Py_ssize_t boundary_size(F&& body) noexcept {
  try {
    Result<Py_ssize_t> r = body();
    if (r.ok()) return r.value();
    std::move(r).error().raise();
  } catch (...) {
    raise_current_exception();
  }
  return -1;
}

}  // namespace vx
