// A tiny grammar notation for tests only.
//
//   "E : E PLUS T | T ; T : ID"
//
// Rules are separated by ';', alternatives by '|', symbols by white space.
// Symbols are passed to the grammar as written, so quoted literals ('+')
// keep their quotes. An alternative may end with "%prec NAME" and/or
// "@LINE" (default line 0). An empty alternative is an empty production.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grammar/grammar.hpp"
#include "lr_table/lr_table.hpp"

namespace vx::testing {

// Adds the rules in order; fails the current test on a refusal.
void add_rules(Grammar& g, std::string_view rules);

struct GrammarSpec {
  std::vector<std::string> terminals;
  std::string rules;
  std::vector<PrecedenceGroup> precedence;  // declared before the rules
  std::optional<std::string> start;         // none: set_start without argument
};
Grammar make_grammar(const GrammarSpec& spec);

// Names joined by single spaces, in the given order.
std::string names(const Grammar& g, std::span<const SymbolId> ids);
std::string names(const LRTable& t, std::span<const SymbolId> ids);
// FIRST or FOLLOW set of a name as its sorted members joined by spaces
// (the marker shown as <e>), or "<none>" when the map has no entry.
std::string set_of(const Grammar& g, const SymbolSets& sets, std::string_view key);

std::string items(std::span<const LrItem> list);             // "(0,0) (1,0)"
std::string action_row(const LRTable& t, size_t state);     // sorted: "$end:0 PLUS:4", error as "x:err"
std::string goto_row(const LRTable& t, size_t state);       // sorted: "E:1 T:2"
// The whole record in text form, for comparing builds.
std::string dump(const LRTable& t);

}  // namespace vx::testing
