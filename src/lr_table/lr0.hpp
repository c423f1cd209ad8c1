// LR(0) items, closure, goto and the canonical collection of LR(0) states.
//
// Inside the construction an item is one 32-bit number: item (p, d) is
// item_base[p] + d, where production p's items occupy len(p) + 1 consecutive
// numbers. Item numbers therefore sort like (production, dot) pairs, and the
// symbol after the dot is one array read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "grammar/grammar.hpp"

namespace vx {

using ItemId = uint32_t;

// A flat, read-only view of a grammar's productions for the construction.
struct GrammarIndex {
  explicit GrammarIndex(const Grammar& g);

  size_t num_symbols = 0;
  size_t num_productions = 0;
  std::vector<SymbolId> prod_name;       // by production
  std::vector<uint32_t> rhs_begin;       // by production, plus one: into rhs
  std::vector<SymbolId> rhs;             // every right-hand side, back to back
  std::vector<ItemId> item_base;         // by production, plus one: item (p, 0)
  std::vector<SymbolId> item_next;       // by item: symbol after the dot, or kNoSymbol
  std::vector<uint32_t> item_prod;       // by item: its production
  std::vector<uint32_t> rule_begin;      // by symbol, plus one: into rule_prods
  std::vector<uint32_t> rule_prods;      // productions of each rule name, ascending
  std::vector<uint8_t> terminal;         // by symbol
  std::vector<uint8_t> nonterminal;      // by symbol
  SymbolId augmented = kNoSymbol;        // "S'", when interned

  [[nodiscard]] uint32_t rhs_len(uint32_t p) const noexcept { return rhs_begin[p + 1] - rhs_begin[p]; }
  [[nodiscard]] std::span<const SymbolId> rhs_of(uint32_t p) const noexcept {
    return {rhs.data() + rhs_begin[p], rhs_len(p)};
  }
  [[nodiscard]] std::span<const uint32_t> productions_of(SymbolId s) const noexcept {
    return {rule_prods.data() + rule_begin[s], rule_begin[s + 1] - rule_begin[s]};
  }
  [[nodiscard]] uint32_t dot_of(ItemId item) const noexcept { return item - item_base[item_prod[item]]; }
  [[nodiscard]] bool completed(ItemId item) const noexcept { return item_next[item] == kNoSymbol; }
};

// Closure with reusable scratch space. A goto on X is the closure of the
// items with X after the dot, advanced, in item order (see ItemGrouper).
class Lr0Closure {
 public:
  explicit Lr0Closure(const GrammarIndex& gi) : gi_(gi), expanded_(gi.num_symbols, 0) {}

  // Appends to `out` the closure of `kernel`: the kernel in its order, then
  // (q, 0) for each production q of each rule name met after a dot, in walk
  // order, each production once (kernel items are not counted as added).
  void closure(std::span<const ItemId> kernel, std::vector<ItemId>& out);

 private:
  const GrammarIndex& gi_;
  std::vector<uint32_t> expanded_;  // by symbol: generation of its expansion
  uint32_t gen_ = 0;
};

// Splits a state's items by the symbol after the dot: the symbols in order of
// first appearance, and for each the advanced items (a goto kernel) in item
// order.
class ItemGrouper {
 public:
  explicit ItemGrouper(const GrammarIndex& gi) : gi_(gi), slot_(gi.num_symbols, 0), stamp_(gi.num_symbols, 0) {}

  void group(std::span<const ItemId> items);
  [[nodiscard]] size_t size() const noexcept { return symbols_.size(); }
  [[nodiscard]] SymbolId symbol(size_t k) const noexcept { return symbols_[k]; }
  [[nodiscard]] std::span<const ItemId> kernel(size_t k) const noexcept {
    return {kernels_.data() + begin_[k], begin_[k + 1] - begin_[k]};
  }

 private:
  const GrammarIndex& gi_;
  std::vector<uint32_t> slot_;
  std::vector<uint32_t> stamp_;
  uint32_t gen_ = 0;
  std::vector<SymbolId> symbols_;
  std::vector<uint32_t> begin_;
  std::vector<ItemId> kernels_;
};

struct Transition {
  SymbolId symbol;
  uint32_t target;
};

// Open-addressing map from (state, symbol) to a transition index.
class TransitionIndex {
 public:
  void build(std::span<const uint32_t> trans_begin, std::span<const Transition> trans);
  [[nodiscard]] std::optional<uint32_t> find(uint32_t state, SymbolId symbol) const noexcept;

 private:
  static uint64_t key(uint32_t state, SymbolId symbol) noexcept { return (uint64_t{state} << 32) | symbol; }
  std::vector<uint64_t> keys_;
  std::vector<uint32_t> values_;
  uint32_t shift_ = 64;
};

struct Lr0Automaton {
  std::vector<uint32_t> state_begin{0};  // by state, plus one: into items
  std::vector<ItemId> items;             // each state's items in closure order
  std::vector<uint32_t> trans_begin{0};  // by state, plus one: into trans
  std::vector<Transition> trans;         // each state's transitions, in outgoing-symbol order
  TransitionIndex index;

  [[nodiscard]] size_t num_states() const noexcept { return state_begin.size() - 1; }
  [[nodiscard]] std::span<const ItemId> items_of(size_t s) const noexcept {
    return {items.data() + state_begin[s], state_begin[s + 1] - state_begin[s]};
  }
  [[nodiscard]] std::span<const Transition> transitions_of(size_t s) const noexcept {
    return {trans.data() + trans_begin[s], trans_begin[s + 1] - trans_begin[s]};
  }
  // The target of (state, symbol), if the state has that transition.
  [[nodiscard]] std::optional<uint32_t> target(uint32_t state, SymbolId symbol) const noexcept {
    auto t = index.find(state, symbol);
    if (!t) return std::nullopt;
    return trans[*t].target;
  }
};

// The LR(0) states of the grammar, numbered breadth-first from the closure
// of (0, 0): the new targets of a state's outgoing symbols take the next
// numbers in symbol order.
[[nodiscard]] Lr0Automaton build_lr0(const GrammarIndex& gi);

}  // namespace vx
