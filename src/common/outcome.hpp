// Values or errors, for the whole code base.
//
// A fallible operation returns Expected<T, E>: either the value or the error
// that says why there is none. The pure C++ cores use Outcome<T>, whose error
// is a Failure naming the kind of error and carrying its message; the binding
// layer uses Result<T> (binding/error.hpp), whose error is a Python
// exception, and a Failure that reaches it becomes the matching exception.
// The pure cores signal errors no other way. In the binding layer, a few
// small helpers that stand beside C API calls answer as those calls do,
// nullptr (or -1, or true) with the exception pending: the interned names
// (binding/names.hpp), str() and == one level deeper (binding/recursion.hpp),
// the signal poll (binding/signals.hpp), the names of look-ups by name
// (binding/imports.cpp) and the class of PanicException
// (binding/boundary.hpp). Their callers take the exception at once
// (Error::pending()), as after a C API call, or, in the slots that run
// outside boundary() (binding/boundary.hpp), return it to the interpreter.
// Broken invariants are not errors: they go through vx::internal_failure()
// (common/internal_failure.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vx {

template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit on purpose
  Expected(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit on purpose
  // An error of another kind that converts to E, such as a core's Failure
  // reaching the binding layer.
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, E> && !std::is_convertible_v<F &&, T> &&
             std::is_convertible_v<F &&, E>)
  Expected(F&& error) : v_(std::in_place_index<1>, E(std::forward<F>(error))) {}  // NOLINT: implicit on purpose

  [[nodiscard]] bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return std::get<0>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// The value of an operation that yields nothing.
struct Unit {};
inline Unit ok() noexcept { return {}; }

// The error of the pure cores.
enum class ErrorKind : uint8_t { Value, Overflow, Runtime };

struct Failure {
  ErrorKind kind;
  std::string message;
};

[[nodiscard]] inline Failure value_error(std::string message) { return {ErrorKind::Value, std::move(message)}; }
[[nodiscard]] inline Failure overflow_error(std::string message) { return {ErrorKind::Overflow, std::move(message)}; }
[[nodiscard]] inline Failure runtime_error(std::string message) { return {ErrorKind::Runtime, std::move(message)}; }

template <class T>
using Outcome = Expected<T, Failure>;
using Status = Outcome<Unit>;

}  // namespace vx

// Evaluate an Expected; on error return the error from the enclosing
// function (which converts it to its own error type), otherwise bind the
// value to `decl`.
#define VX_CONCAT_INNER(a, b) a##b
#define VX_CONCAT(a, b) VX_CONCAT_INNER(a, b)
#define VX_TRY_IMPL(tmp, decl, expr)             \
  auto tmp = (expr);                             \
  if (!tmp.ok()) return std::move(tmp).error();  \
  decl = std::move(tmp).value()
#define VX_TRY(decl, expr) VX_TRY_IMPL(VX_CONCAT(vx_try_, __LINE__), decl, expr)
// The same for an operation whose value is not needed.
#define VX_CHECK(expr)                                        \
  do {                                                        \
    auto vx_chk_ = (expr);                                    \
    if (!vx_chk_.ok()) return std::move(vx_chk_).error();     \
  } while (0)
