// Cell<T>: a separately guarded piece of an object's changing state.
//
// The only access is with(f): f runs with the value and must not call into
// Python, so no cell is ever held while a callback could re-enter the
// object. Entering a cell that is already held is an internal failure.
#pragma once

#include <utility>

#include "common/internal_failure.hpp"

namespace vx {

template <class T>
class Cell {
 public:
  Cell() = default;
  explicit Cell(T value) : value_(std::move(value)) {}

  template <class F>
  decltype(auto) with(F&& f) {
    if (held_) internal_failure("guarded cell entered while already held");
    held_ = true;
    struct Release {
      bool& held;
      ~Release() { held = false; }
    } release{held_};
    return std::forward<F>(f)(value_);
  }
  // The value for a reader that must not wait (the garbage collector's
  // traversal), or nullptr while the cell is held.
  [[nodiscard]] T* peek() noexcept { return held_ ? nullptr : &value_; }

  template <class F>
  decltype(auto) with(F&& f) const {
    return const_cast<Cell*>(this)->with([&](T& v) -> decltype(auto) { return std::forward<F>(f)(std::as_const(v)); });
  }

 private:
  T value_{};
  bool held_ = false;
};

}  // namespace vx
