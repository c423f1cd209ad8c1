// MutexCell<T>: a piece of an object's changing state guarded by a real
// mutex, for the objects that any thread may use and that carry no borrow
// flag.
//
// The only access is with(f): f runs with the value while the mutex is held.
// Besides the rule of Cell (f does not call into Python), f releases no
// reference: a release may run a finaliser that enters the object
// (binding/ref.hpp says what runs Python code; making an object does not).
// Take what must be released out of the cell and let it go after with()
// returns. Cells of one object nest only in the order its record documents.
//
// An exception leaving f (an internal failure) poisons the cell, and every
// later with() is then an internal failure. Entering a cell that the same
// thread already holds is an internal failure too, not a deadlock.
// try_with(f) never waits: it runs f only when the mutex is free and not
// poisoned, which is what the garbage collector's traverse needs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>

#include "common/internal_failure.hpp"

namespace vx {

// A mutex in one word: 0 free, 1 held, 2 held with a waiter. Uncontended,
// locking is one compare-exchange and unlocking one exchange, with no call;
// a waiter sleeps in the operating system (atomic wait, a futex on Linux).
class WordMutex {
 public:
  void lock() noexcept {
    uint32_t seen = 0;
    if (state_.compare_exchange_strong(seen, 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
    if (seen != 2) seen = state_.exchange(2, std::memory_order_acquire);
    while (seen != 0) {
      state_.wait(2, std::memory_order_relaxed);
      seen = state_.exchange(2, std::memory_order_acquire);
    }
  }
  [[nodiscard]] bool try_lock() noexcept {
    uint32_t seen = 0;
    return state_.compare_exchange_strong(seen, 1, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void unlock() noexcept {
    if (state_.exchange(0, std::memory_order_release) == 2) state_.notify_one();
  }

 private:
  std::atomic<uint32_t> state_{0};
};

template <class T>
class MutexCell {
 public:
  MutexCell() = default;
  explicit MutexCell(T value) : value_(std::move(value)) {}
  MutexCell(const MutexCell&) = delete;
  MutexCell& operator=(const MutexCell&) = delete;

  template <class F>
  decltype(auto) with(F&& f) {
    const std::thread::id me = std::this_thread::get_id();
    if (holder_.load(std::memory_order_relaxed) == me) internal_failure("guarded cell entered while already held");
    mutex_.lock();
    if (poisoned_.load(std::memory_order_relaxed)) {
      mutex_.unlock();
      internal_failure("guarded cell poisoned by an earlier internal failure");
    }
    holder_.store(me, std::memory_order_relaxed);
    Holding holding{*this};
    try {
      return std::forward<F>(f)(value_);
    } catch (...) {
      poisoned_.store(true, std::memory_order_relaxed);
      throw;
    }
  }

  // Runs f and returns true, or returns false at once when the mutex is
  // busy or poisoned.
  template <class F>
  bool try_with(F&& f) {
    if (holder_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return false;
    if (!mutex_.try_lock()) return false;
    std::lock_guard<WordMutex> unlock(mutex_, std::adopt_lock);
    if (poisoned_.load(std::memory_order_relaxed)) return false;
    std::forward<F>(f)(value_);
    return true;
  }

  [[nodiscard]] bool poisoned() const noexcept { return poisoned_.load(std::memory_order_relaxed); }

  // The value, taken without the mutex: only for the owner's destruction,
  // when no other holder can exist.
  [[nodiscard]] T into_inner() noexcept { return std::move(value_); }

 private:
  struct Holding {
    MutexCell& cell;
    ~Holding() {
      cell.holder_.store(std::thread::id(), std::memory_order_relaxed);
      cell.mutex_.unlock();
    }
  };

  WordMutex mutex_;
  std::atomic<bool> poisoned_{false};
  std::atomic<std::thread::id> holder_{};
  T value_{};
};

}  // namespace vx
