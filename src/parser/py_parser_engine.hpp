// The Python class LRParserEngine: compact tables plus the per-production
// lists of one grammar. An engine never changes after construction (its
// parses only share a spare set of lookup caches through it); its method
// `parse` (py_parse_entry.cpp) runs one parse per call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "binding/args.hpp"
#include "binding/borrow.hpp"
#include "binding/error.hpp"
#include "parser/lookup_cache.hpp"
#include "parser/tables.hpp"

namespace vx {

// How the value of a reduction by production p is computed.
enum class Reduction : uint8_t {
  Value,    // value_actions[p]: call value_funcs[p]
  Default,  // the first right-hand-side value
  Custom,   // has_custom_func[p]: the native proxy or reduce_cb
};

// What a parse runs on: the tables and the per-production lists, with the
// two flag lists folded into one choice per production.
struct ParseProgram {
  std::vector<std::shared_ptr<const std::string>> prod_names;  // left-hand side of production p
  std::vector<uint64_t> prod_lens;                               // right-hand-side length of p
  std::vector<std::optional<uint32_t>> prod_lhs;                 // symbol id of prod_names[p]
  std::optional<uint32_t> error_id;                              // the id of "error"
  size_t custom_count = 0;             // the length of has_custom_func
  std::vector<Reduction> reduction;    // for p below the lengths of prod_names and has_custom_func
  std::shared_ptr<const ParserTables> tables;
};

struct PyParserEngine {
  explicit PyParserEngine(ParseProgram p) : program(std::move(p)) {}
  BorrowFlag borrow;
  const ParseProgram program;
  parse::CacheShelf caches;  // what parses learn of the tables, kept between them
};

[[nodiscard]] Result<PyTypeObject*> parser_engine_type();

using kParse = VX_SIGNATURE(
    "LRParserEngine",
    "parse($self, token_stream, reduce_cb, error_cb=None, value_funcs=None, with_stack=False, *, "
    "prepared_slice=False, control=None, recovery_style=\"core\", proxy_context=None)");
// LRParserEngine.parse (vectorcall).
PyObject* engine_parse(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace vx
