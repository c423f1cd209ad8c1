// The LR table record: everything one LALR(1) construction produces.
//
// LRTable::build runs the whole pipeline on a grammar:
//   FIRST, FOLLOW (grammar caches only)  ->  LR(0) states and transitions
//   ->  LALR(1) lookaheads (DeRemer-Pennello)  ->  action/goto filling, with
//   each contested entry settled as it arrives and recorded.
// The record never changes afterwards. It carries a copy of the grammar's
// symbol names, so it stays readable after the grammar changes or goes away.
//
// Every order in the record is fixed by the grammar alone (state numbers,
// item lists, row orders, lookahead lists, conflict lists), never by hashing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "grammar/grammar.hpp"
#include "parser/tables.hpp"

namespace vx {

// An LR(0) item: production number and dot position.
struct LrItem {
  uint32_t production;
  uint32_t dot;
  friend auto operator<=>(const LrItem&, const LrItem&) = default;
};

struct ActionCellRec {
  SymbolId symbol;  // a terminal
  ActionEntry entry;
  friend bool operator==(const ActionCellRec&, const ActionCellRec&) = default;
};

struct GotoCellRec {
  SymbolId symbol;  // a nonterminal
  uint32_t target;
  friend bool operator==(const GotoCellRec&, const GotoCellRec&) = default;
};

struct SrConflict {
  uint64_t state;
  std::string token;
  std::string resolution;
  friend bool operator==(const SrConflict&, const SrConflict&) = default;
};

struct RrConflict {
  uint64_t state;
  uint64_t chosen;
  uint64_t rejected;
  friend bool operator==(const RrConflict&, const RrConflict&) = default;
};

struct ConflictRecord {
  std::string kind;  // "shift/reduce" or "reduce/reduce"
  uint64_t state;
  std::string token;
  std::string resolution;  // "shift", "reduce", "error (nonassoc)", "reduce using rule N"
  std::string reason;
  std::array<LrItem, 2> candidates;  // shift then reduce; or existing then new
  friend bool operator==(const ConflictRecord&, const ConflictRecord&) = default;
};

// The lookahead list of one completed item (state, production).
struct LookaheadList {
  uint32_t state;
  uint32_t production;
  std::vector<SymbolId> terminals;  // ordered, duplicate-free
  friend bool operator==(const LookaheadList&, const LookaheadList&) = default;
};

// Conflicts as they are settled, in settlement order.
struct ConflictLog {
  std::vector<SrConflict> sr;
  std::vector<RrConflict> rr;
  std::vector<ConflictRecord> records;
  friend bool operator==(const ConflictLog&, const ConflictLog&) = default;
};

class LRTable {
 public:
  // Builds the table of the grammar as it is now. Fills the grammar's FIRST
  // and FOLLOW caches first; throws vx::InternalFailure when no start symbol is set.
  [[nodiscard]] static LRTable build(Grammar& grammar);

  [[nodiscard]] size_t num_states() const noexcept { return state_begin_.size() - 1; }

  // A state's items in closure order (kernel first).
  [[nodiscard]] std::span<const LrItem> state(size_t s) const noexcept {
    return {items_.data() + state_begin_[s], state_begin_[s + 1] - state_begin_[s]};
  }
  // A state's item set: its items sorted and without duplicates.
  [[nodiscard]] std::vector<LrItem> item_set(size_t s) const;

  // Action and goto rows, in order of first placement.
  [[nodiscard]] std::span<const ActionCellRec> action_row(size_t s) const noexcept {
    return {action_cells_.data() + action_begin_[s], action_begin_[s + 1] - action_begin_[s]};
  }
  [[nodiscard]] std::span<const GotoCellRec> goto_row(size_t s) const noexcept {
    return {goto_cells_.data() + goto_begin_[s], goto_begin_[s + 1] - goto_begin_[s]};
  }

  // Every lookahead list, in order of creation, and the list of one item.
  [[nodiscard]] const std::vector<LookaheadList>& lookaheads() const noexcept { return lookaheads_; }
  [[nodiscard]] const std::vector<SymbolId>* lookahead(uint32_t state, uint32_t production) const;

  [[nodiscard]] const std::vector<SrConflict>& sr_conflicts() const noexcept { return conflicts_.sr; }
  [[nodiscard]] const std::vector<RrConflict>& rr_conflicts() const noexcept { return conflicts_.rr; }
  [[nodiscard]] const std::vector<ConflictRecord>& conflicts() const noexcept { return conflicts_.records; }

  // Names of the symbol ids used in rows and lookahead lists.
  [[nodiscard]] const std::string& symbol_name(SymbolId id) const { return names_[id]; }
  [[nodiscard]] const std::vector<std::string>& symbol_names() const noexcept { return names_; }

  // Copies of the action and goto maps in the native map form, one (possibly
  // empty) row per state.
  [[nodiscard]] ActionMap action_map() const;
  [[nodiscard]] GotoMap goto_map() const;

  // The compact tables of this record: the same tables as
  // ParserTables::create(num_states(), action_map(), goto_map()), built
  // without going through the name maps.
  [[nodiscard]] std::shared_ptr<const ParserTables> make_parser_tables() const;

  // Number of LR(0) items over all states (closure items included).
  [[nodiscard]] size_t num_items() const noexcept { return items_.size(); }

  friend bool operator==(const LRTable&, const LRTable&) = default;

 private:
  LRTable() = default;
  friend class LRTableBuilder;

  std::vector<std::string> names_;
  std::vector<size_t> state_begin_{0};
  std::vector<LrItem> items_;
  std::vector<size_t> action_begin_{0};
  std::vector<ActionCellRec> action_cells_;
  std::vector<size_t> goto_begin_{0};
  std::vector<GotoCellRec> goto_cells_;
  std::vector<LookaheadList> lookaheads_;
  std::unordered_map<uint64_t, uint32_t> lookahead_index_;  // (state << 32 | production) -> index
  ConflictLog conflicts_;
};

}  // namespace vx
