// Recursion through the user's values. The printed forms and the equality of
// tokens and symbols call str() and == on the values they hold, and those may
// hold tokens again, to any depth. The interpreter's own guard counts levels
// and allows as many as its own frames fit on the stack; a level of ours
// takes more stack than that, so a deep enough chain would overflow the C
// stack before the interpreter says RecursionError. A DepthGuard counts our
// levels on the current thread besides, and refuses more than kMaxDepth.
#pragma once

#include <utility>

#include "binding/error.hpp"

namespace vx {

class DepthGuard {
 public:
  // Under a megabyte of stack even in a sanitizer build, and far beyond the
  // nesting of any value a lexer or parser makes.
  static constexpr int kMaxDepth = 1000;

  // One level deeper, or RecursionError "maximum recursion depth
  // exceeded{where}" (`where` as the interpreter words it, " in comparison").
  [[nodiscard]] static Result<DepthGuard> enter(const char* where);

  DepthGuard(DepthGuard&& o) noexcept : active_(std::exchange(o.active_, false)) {}
  DepthGuard& operator=(DepthGuard&&) = delete;
  ~DepthGuard();

 private:
  DepthGuard() = default;
  bool active_ = true;
};

}  // namespace vx
