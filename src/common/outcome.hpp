// Plain result values for the pure C++ cores (no Python types here).
//
// A fallible operation returns Outcome<T>: either the value or a Failure that
// names the kind of error and carries its message. The binding layer turns a
// Failure into the matching Python exception at the boundary of the method
// that called the core; nothing in the cores signals errors any other way.
// Broken invariants are not failures: they go through vx::panic().
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vx {

enum class ErrorKind : uint8_t { Value, Type, Overflow, Index, Runtime, Key };

struct Failure {
  ErrorKind kind;
  std::string message;
};

[[nodiscard]] inline Failure value_error(std::string message) { return {ErrorKind::Value, std::move(message)}; }
[[nodiscard]] inline Failure overflow_error(std::string message) { return {ErrorKind::Overflow, std::move(message)}; }
[[nodiscard]] inline Failure index_error(std::string message) { return {ErrorKind::Index, std::move(message)}; }
[[nodiscard]] inline Failure runtime_error(std::string message) { return {ErrorKind::Runtime, std::move(message)}; }

template <class T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Outcome(Failure failure) : v_(std::in_place_index<1>, std::move(failure)) {}

  [[nodiscard]] bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &std::get<0>(v_); }
  T& operator*() & { return std::get<0>(v_); }
  const Failure& failure() const& { return std::get<1>(v_); }
  Failure&& failure() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Failure> v_;
};

// Outcome of an operation that yields nothing.
struct Done {};
using Status = Outcome<Done>;
inline Status ok_status() { return Done{}; }

}  // namespace vx

// Evaluate an Outcome; on failure return its Failure from the enclosing
// function, otherwise bind the value to `decl`.
#define VX_CONCAT_INNER(a, b) a##b
#define VX_CONCAT(a, b) VX_CONCAT_INNER(a, b)
#define VX_OUT_TRY_IMPL(tmp, decl, expr) \
  auto tmp = (expr);                     \
  if (!tmp.ok()) return std::move(tmp).failure(); \
  decl = std::move(tmp).value()
#define VX_OUT_TRY(decl, expr) VX_OUT_TRY_IMPL(VX_CONCAT(vx_out_, __LINE__), decl, expr)
#define VX_OUT_CHECK(expr)                                  \
  do {                                                      \
    auto vx_chk_ = (expr);                                  \
    if (!vx_chk_.ok()) return std::move(vx_chk_).failure(); \
  } while (0)
