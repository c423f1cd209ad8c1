// TokenCursor: a token source that remembers that it has ended. A parse
// given one steps it natively; Python code may step the same cursor with
// next(), also from inside callbacks of that parse.
#pragma once

#include "binding/borrow.hpp"
#include "binding/cell.hpp"
#include "binding/error.hpp"
#include "binding/thread_bound.hpp"

namespace vx {

struct PyTokenCursor {
  static constexpr const char* kNativeName = "PyTokenCursor";
  explicit PyTokenCursor(Ref it) : iterator(std::move(it)) {}
  BorrowFlag borrow;
  ThreadBound thread;
  Ref iterator;  // empty once the garbage collector has cleared the cursor
  Cell<bool> exhausted{false};
};

[[nodiscard]] Result<PyTypeObject*> token_cursor_type();
[[nodiscard]] bool is_token_cursor(PyObject* obj) noexcept;
// One step of the cursor, under the caller's shared access: the next item,
// an empty Ref when the iterator has ended (now or earlier), or its error.
[[nodiscard]] Result<Ref> cursor_next_item(PyTokenCursor& c);

}  // namespace vx
