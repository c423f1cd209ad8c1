// Recursion through the user's values. The printed forms and the equality of
// tokens and symbols call str() and == on the values they hold, and those may
// hold tokens again, to any depth, on whatever stack the calling thread has
// (a thread started after threading.stack_size(1 MiB) has one megabyte).
//
// Each level therefore goes through the interpreter's own recursion check
// (Py_EnterRecursiveCall, which measures the remaining stack where the
// interpreter does, and only counts levels where it does not) and through a
// count of our own levels on the current thread, capped at kMaxDepth. The
// frames that stay on the stack while a level recurses are kept small: the
// slots do the rest of their work in functions that return before the value
// is rendered or compared (or are called after that).
#pragma once

#include <utility>

#include "binding/error.hpp"

namespace vx {

// One level deeper, as a guard; refused with RecursionError "maximum
// recursion depth exceeded{where}" (`where` as the interpreter words it,
// " in comparison").
class DepthGuard {
 public:
  // A quarter of a megabyte of stack holds kMaxDepth levels of tokens with
  // the interpreter's own frames between them in a release build, and a
  // megabyte holds them with lists and tuples between them; far beyond the
  // nesting of any value a lexer or parser makes.
  static constexpr int kMaxDepth = 1000;

  // Entered when active(); otherwise the RecursionError is pending.
  explicit DepthGuard(const char* where) noexcept;
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  ~DepthGuard();

  [[nodiscard]] bool active() const noexcept { return active_; }

 private:
  bool active_ = false;
};

// str(value) one level deeper: a new reference, or nullptr with the
// exception pending, as PyObject_Str.
[[nodiscard]] PyObject* nested_str(PyObject* value) noexcept;
// The truth of a == b one level deeper: 1, 0, or -1 with the exception
// pending.
[[nodiscard]] int nested_equal(PyObject* a, PyObject* b) noexcept;

}  // namespace vx
