// The parser's symbol record and the Python class ParsedSymbol.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "binding/borrow.hpp"
#include "binding/error.hpp"

namespace vx {

// One grammar symbol as the parse engine handles it. Copies share the name
// and the value object; nothing is copied deeply.
struct PyParsedSymbol {
  std::shared_ptr<const std::string> sym_type;
  Ref value;  // never empty: None stands for no value
  uint64_t lineno = 1;
  uint64_t endlineno = 1;
  uint64_t lexpos = 0;
  uint64_t endlexpos = 0;

  // A record with a new shared name; a null `value` stores None.
  [[nodiscard]] static PyParsedSymbol make(std::string name, Ref value, uint64_t lineno, uint64_t endlineno,
                                           uint64_t lexpos, uint64_t endlexpos);
  // A record of `name` at the start of the input, line 1, position 0, with
  // no extent (a stack's bottom entry, an end marker, the result of an empty
  // right-hand side); a null `value` stores None.
  [[nodiscard]] static PyParsedSymbol at_start(const std::shared_ptr<const std::string>& name, Ref value = Ref()) {
    return PyParsedSymbol{name, value ? std::move(value) : Ref::none(), 1, 1, 0, 0};
  }
  [[nodiscard]] PyParsedSymbol clone_symbol() const;
};

// The Python object: one record plus the borrow flag.
struct ParsedSymbolObject {
  BorrowFlag borrow;
  PyParsedSymbol sym;
};

[[nodiscard]] Result<PyTypeObject*> parsed_symbol_type();
// A new ParsedSymbol object holding `sym`.
[[nodiscard]] Result<Ref> wrap_symbol(PyParsedSymbol sym);
// True when `obj`'s class is ParsedSymbol.
[[nodiscard]] bool is_parsed_symbol(PyObject* obj) noexcept;
// A copy of the record of a ParsedSymbol object, read under shared access.
[[nodiscard]] Result<PyParsedSymbol> copy_symbol_out(PyObject* obj);

}  // namespace vx
