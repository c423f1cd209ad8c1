// Errors as values at the Python boundary.
//
// Error holds one Python exception: either an exception object fetched from
// the interpreter (Error::pending) or a type and message still to be
// instantiated. Result<T> (common/outcome.hpp) holds a T or an Error. Every
// exposed method and slot that can fail runs inside vx::boundary
// (binding/boundary.hpp, which names the steps of three slots that run just
// outside it), where Error::raise leaves the exception pending for the
// caller; an exception that a failed C API call sets inside a body is taken
// at once (Error::pending), cleared or reported.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "binding/ref.hpp"
#include "common/outcome.hpp"

namespace vx {

class Error {
 public:
  // Takes the exception the interpreter has pending. When none is pending this
  // is SystemError "attempted to fetch exception but none was set".
  [[nodiscard]] static Error pending() noexcept;
  // A new exception of type `type` (a borrowed exception class) with `message`.
  [[nodiscard]] static Error make(PyObject* type, std::string message);
  // An exception object already made.
  [[nodiscard]] static Error from_object(Ref exception) noexcept;
  // The object a call of an exception class returned, to be raised as it is;
  // an object that is no exception instance gives TypeError
  // "exceptions must derive from BaseException".
  [[nodiscard]] static Error from_returned(Ref obj);
  // A Failure of the pure cores, mapped to its Python exception type.
  Error(Failure failure);  // NOLINT: implicit on purpose, so cores' failures pass through VX_TRY

  // Adds the note "while processing '{name}'" (the argument conversion note).
  [[nodiscard]] Error&& with_argument_note(std::string_view name) &&;
  // The exception object, instantiated on first request (nullptr only if even
  // that failed, in which case the instantiation's error is held instead).
  [[nodiscard]] PyObject* object();
  // True when the held exception is an instance of `type`.
  [[nodiscard]] bool matches(PyObject* type);
  // Sets the interpreter's error indicator to this exception.
  void raise() && noexcept;

 private:
  Error() = default;
  void materialize();
  Ref exc_;                 // the exception object, once made
  PyObject* type_ = nullptr;  // borrowed exception class while exc_ is empty
  std::string message_;
};

// A value or a Python exception.
template <class T>
using Result = Expected<T, Error>;

// Result of an operation that yields nothing.
using Void = Result<Unit>;

// "'{}' object is not an instance of '{}'" / "'None' is not an instance of '{}'".
[[nodiscard]] Error cast_error(PyObject* obj, std::string_view expected);

}  // namespace vx
