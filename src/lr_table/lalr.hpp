// LALR(1) lookaheads by the DeRemer-Pennello relations.
//
// Nodes are the nonterminal transitions (state, A). Over them:
//   Read(x)   = DR(x) ∪ ⋃ { Read(y) | x reads y }
//   Follow(x) = Read(x) ∪ ⋃ { Follow(y) | x includes y }
//   LA(s, q)  = ⋃ { Follow(x) | (s, q) lookback x }
// Both closures run through ordered_digraph, so every list keeps a fixed
// order: nodes in state order and, within a state, in order of first
// appearance after a dot; DR in item order of a freshly computed goto, with
// "$end" last on the start symbol's transition from state 0; includes and
// lookback in node order, then item order.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "lr_table/lr0.hpp"
#include "lr_table/lr_table.hpp"

namespace vx {

struct LalrNode {
  uint32_t state;
  SymbolId symbol;  // a rule name
  uint32_t target;
};

struct LookbackPair {
  uint32_t state;
  uint32_t production;
  friend bool operator==(const LookbackPair&, const LookbackPair&) = default;
};

// The relations and both traversals' results, node by node.
struct LalrAnalysis {
  std::vector<uint8_t> nullable;  // by symbol: a rule name deriving the empty sequence
  std::vector<LalrNode> nodes;
  std::vector<std::vector<SymbolId>> direct_reads;
  std::vector<std::vector<uint32_t>> reads;     // successor nodes, duplicates kept
  std::vector<std::vector<SymbolId>> read_sets;
  std::vector<std::vector<uint32_t>> includes;  // successor nodes, duplicates kept
  std::vector<std::vector<LookbackPair>> lookback;
  std::vector<std::vector<SymbolId>> follow;
  std::vector<LookaheadList> lookaheads;  // in order of creation
  std::unordered_map<uint64_t, uint32_t> lookahead_index;  // (state << 32 | production) -> index
};

[[nodiscard]] LalrAnalysis analyse_lalr(const GrammarIndex& gi, const Lr0Automaton& lr0);

// Rule names deriving the empty sequence, productions 1, 2, ... only (by
// symbol id; only rule names can be in it).
[[nodiscard]] std::vector<uint8_t> nullable_rules(const GrammarIndex& gi);

}  // namespace vx
