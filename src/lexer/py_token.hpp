// The native token record behind the Python class Token.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "binding/borrow.hpp"
#include "binding/error.hpp"

namespace vx {

struct PyToken {
  BorrowFlag borrow;
  std::shared_ptr<const std::string> type;  // shared with the rule that made the token
  Ref value;                                // never empty
  Ref lexer;                                // the owner, or None; never empty
  uint64_t lineno = 0;
  uint64_t lexpos = 0;
  uint64_t end = 0;                         // exclusive; not checked against lexpos
};

// The class object, made on first use.
[[nodiscard]] Result<PyTypeObject*> token_type();

// A new Token holding exactly these fields; a null `lexer` stores None.
[[nodiscard]] Result<Ref> create_token(std::shared_ptr<const std::string> type, Ref value, Ref lexer,
                                       uint64_t lineno, uint64_t lexpos, uint64_t end);

// The package's Python-level Token class (vexlor.core.tokens.Token), as a
// look-up by name gives it; kept between uses while sys.modules and the
// module's dict show that it is still the one.
[[nodiscard]] Result<Ref> package_token_class();

// True when `obj`'s class is Token (the class cannot be subclassed).
[[nodiscard]] bool is_token(PyObject* obj) noexcept;

// The fields a reader of tokens needs (the owner is not read).
struct TokenFields {
  std::shared_ptr<const std::string> type;
  Ref value;
  uint64_t lineno;
  uint64_t lexpos;
  uint64_t end;
};
// Reads a Token under shared access; `obj` must satisfy is_token.
[[nodiscard]] Result<TokenFields> read_token(PyObject* obj);
// The same for a Token handed over by the caller: when the caller's is the
// only reference, the fields are moved out of the dying token instead of
// shared with it. The reference handed over is let go before the return: a
// token whose fields were moved out dies there, before the caller stores
// them (its release may run Python code, which finds no token left empty).
// Hence Ref&&, moved from inside: a parameter taken by value may live on
// until the end of the caller's full expression, past the store (it does
// with g++).
[[nodiscard]] Result<TokenFields> take_token(Ref&& token);

}  // namespace vx
