// The native proxy reduction, as the parse loop sees it: a reduction whose
// value comes from a Python action run against a production view over the
// reduction's symbols, which stay native until the action touches them.
#pragma once

#include <span>

#include "binding/error.hpp"
#include "parser/py_parsed_symbol.hpp"

namespace vx {

// proxy_context as read once at the start of a parse.
struct ProxyContext {
  Ref productions, factory, factory_new, invoke, lexer, parser;
};

// The native proxy reduction of one production: `production` is item p of
// the productions (already read by the loop), `result` the result record
// (symbol 0, value = initial value), `rhs` the right-hand-side records
// (symbols 1..n, leftmost first; the callee moves them out), `stack` the
// parse's ParserStack object. Yields the record to push.
[[nodiscard]] Result<PyParsedSymbol> native_proxy_reduce(const ProxyContext& ctx, PyObject* production,
                                                         PyParsedSymbol result, std::span<PyParsedSymbol> rhs,
                                                         PyObject* stack);

}  // namespace vx
