// Borrow flags: any number of shared holders or one exclusive holder,
// updated atomically. Access is taken through move-only guards whose
// destructors give it back, so every exit path releases it.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "binding/boundary.hpp"
#include "binding/error.hpp"

namespace vx {

class BorrowFlag {
 public:
  [[nodiscard]] bool try_shared() noexcept {
    intptr_t s = state_.load(std::memory_order_relaxed);
    while (s >= 0) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) return true;
    }
    return false;
  }
  void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
  [[nodiscard]] bool try_exclusive() noexcept {
    intptr_t expected = 0;
    return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }
  [[nodiscard]] bool held_exclusively() const noexcept { return state_.load(std::memory_order_acquire) < 0; }

 private:
  std::atomic<intptr_t> state_{0};  // n > 0: n shared holders; -1: one exclusive holder
};

class SharedGuard {
 public:
  explicit SharedGuard(BorrowFlag* f) noexcept : f_(f) {}
  SharedGuard(SharedGuard&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  SharedGuard& operator=(SharedGuard&&) = delete;
  ~SharedGuard() {
    if (f_) f_->release_shared();
  }

 private:
  BorrowFlag* f_;
};

class ExclusiveGuard {
 public:
  explicit ExclusiveGuard(BorrowFlag* f) noexcept : f_(f) {}
  ExclusiveGuard(ExclusiveGuard&& o) noexcept : f_(std::exchange(o.f_, nullptr)) {}
  ExclusiveGuard& operator=(ExclusiveGuard&&) = delete;
  ~ExclusiveGuard() { release(); }
  // Gives the access back early.
  void release() noexcept {
    if (f_) std::exchange(f_, nullptr)->release_exclusive();
  }

 private:
  BorrowFlag* f_;
};

// The refusal of shared access: RuntimeError "Already mutably borrowed".
[[nodiscard]] inline Error mutably_borrowed() { return Error::make(PyExc_RuntimeError, "Already mutably borrowed"); }
// Refused: mutably_borrowed().
[[nodiscard]] inline Result<SharedGuard> borrow_shared(BorrowFlag& f) {
  if (!f.try_shared()) return mutably_borrowed();
  return SharedGuard(&f);
}
// For slots written without Result: sets mutably_borrowed() and returns nullptr.
[[gnu::cold]] inline PyObject* refuse_shared() noexcept {
  return boundary([]() -> Result<Ref> { return mutably_borrowed(); });
}
// Refused: RuntimeError "Already borrowed".
[[nodiscard]] inline Result<ExclusiveGuard> borrow_exclusive(BorrowFlag& f) {
  if (!f.try_exclusive()) return Error::make(PyExc_RuntimeError, "Already borrowed");
  return ExclusiveGuard(&f);
}

}  // namespace vx
