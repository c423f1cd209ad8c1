// How a parse reads its input: the token source chosen for `token_stream`,
// the end marker that stands for the end of input, and the conversion of a
// token object into a symbol record.
#pragma once

#include <optional>

#include "binding/borrow.hpp"
#include "binding/error.hpp"
#include "parser/py_parsed_symbol.hpp"

namespace vx {

struct PyTokenCursor;

class TokenSource {
 public:
  // A TokenCursor (thread check, then shared access held for the life of
  // the source) or the iterator that iter() gives for `token_stream`.
  [[nodiscard]] static Result<TokenSource> select(PyObject* token_stream);

  // Reads the next symbol into `out`; a fresh end marker once the stream
  // has ended.
  [[nodiscard]] Void next_symbol(PyParsedSymbol& out);

 private:
  TokenSource() = default;
  Ref object_;                          // the cursor, or the iterator
  PyTokenCursor* cursor_ = nullptr;     // set for a cursor source
  std::optional<SharedGuard> cursor_access_;
  bool stream_ended_ = false;
};

// A new end marker: "$end" with the value "$end", line 1, position 0.
[[nodiscard]] Void end_marker(PyParsedSymbol& out);

// One token object as a symbol record: a ParsedSymbol is copied, a Token
// read field by field, anything else read through its attributes `type`,
// `value`, `lineno`, `lexpos` (or `index`) and `end`.
[[nodiscard]] Void symbol_from_token(PyObject* token, PyParsedSymbol& out);

}  // namespace vx
