// Compact parse tables: the form in which the parse loop holds an action
// table and a goto table.
//
// Encoding. Every symbol name that occurs as a key of any action or goto row
// gets a 32-bit id: its position in the byte-wise sorted, duplicate-free list
// of all those names (so "$end" < "B" < "a" < "ab" < "b", a prefix before its
// extensions). Per state there is one action row and one goto row, each a run
// of fixed-size cells sorted by ascending id, stored back to back in one
// contiguous array per table. An action cell holds an action entry:
//
//   j > 0      shift the lookahead and go to state j
//   -p         reduce by production p
//   0          accept
//   no value   explicit error entry
//
// and a goto cell holds the target state of a nonterminal. A lookup answers
// "absent" when the row has no cell for the id at all; that is distinct from
// an explicit error entry, which is a cell whose entry has no value. The parse
// loop relies on the difference: only an absent entry lets it retry with the
// token's value as a symbol name.
//
// Why sorted rows and binary search: the parse loop turns a lookahead's name
// into its id with one hash lookup, and then every action or goto decision is
// a search in a short sorted array of plain integers instead of a hash lookup
// of a text per step. Rows are small, cells are contiguous and a one-cell row
// is answered by a single comparison.
//
// Entries and targets are stored as given: nothing is checked against the
// number of states or the productions (the parse loop validates what it
// uses). Rows of state numbers at or beyond `num_states` are dropped, but the
// names of their keys still receive ids. Tables never change once built and
// are shared through std::shared_ptr<const ParserTables> (atomic count).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vx {

// An action entry: j > 0 shift, -p reduce, 0 accept, no value explicit error.
using ActionEntry = std::optional<int32_t>;

// The native action and goto maps that tables are built from: state number
// to (symbol name to entry).
using ActionRowMap = std::unordered_map<std::string, ActionEntry>;
using GotoRowMap = std::unordered_map<std::string, uint64_t>;
using ActionMap = std::unordered_map<uint64_t, ActionRowMap>;
using GotoMap = std::unordered_map<uint64_t, GotoRowMap>;

class ParserTables {
 public:
  struct ActionCell {
    uint32_t id;
    bool has_value;  // false: explicit error entry
    int32_t value;
  };
  struct GotoCell {
    uint32_t id;
    uint64_t target;
  };

  // Rows given by index into a list of names, for builders that already hold
  // their symbols as dense numbers. `names` may hold duplicates and names that
  // no row uses; ids are assigned over the names that rows actually use.
  struct IndexedAction {
    uint32_t name;  // index into names
    ActionEntry entry;
  };
  struct IndexedGoto {
    uint32_t name;
    uint64_t target;
  };
  struct IndexedRows {
    uint64_t state;
    std::vector<IndexedAction> action;
    std::vector<IndexedGoto> goto_;
  };

  // Builds tables from the action map, the goto map and the number of
  // states; the maps are consumed. The result does not depend on the maps'
  // iteration order.
  [[nodiscard]] static std::shared_ptr<const ParserTables> create(uint64_t num_states, ActionMap action,
                                                                  GotoMap goto_map);

  // Same tables as `create` would build from maps holding these rows. Each
  // state appears in at most one entry, and a name index at most once per row.
  [[nodiscard]] static std::shared_ptr<const ParserTables> from_indexed_rows(
      uint64_t num_states, std::span<const std::string> names, std::span<const IndexedRows> rows);

  // The id of a symbol name, or no value when no row of the input had it.
  [[nodiscard]] std::optional<uint32_t> symbol_id(std::string_view name) const;

  // The action entry the state's row holds for `id`; no value when the row
  // has no such cell. A present but valueless entry is the explicit error.
  [[nodiscard]] std::optional<ActionEntry> action_entry(uint64_t state, uint32_t id) const noexcept {
    const ActionCell* c = find_cell(action_row(state), id);
    if (c == nullptr) return std::nullopt;
    return c->has_value ? ActionEntry(c->value) : ActionEntry();
  }

  // The goto target the state's row holds for `id`, or no value.
  [[nodiscard]] std::optional<uint64_t> goto_target(uint64_t state, uint32_t id) const noexcept {
    const GotoCell* c = find_cell(goto_row(state), id);
    if (c == nullptr) return std::nullopt;
    return c->target;
  }

  [[nodiscard]] uint64_t num_states() const noexcept { return num_states_; }
  [[nodiscard]] size_t num_symbols() const noexcept { return names_by_id_.size(); }

  // The rows as stored, for inspection (sorted by id). States beyond the last
  // non-empty row have empty rows.
  [[nodiscard]] std::span<const ActionCell> action_row(uint64_t state) const noexcept {
    return state < num_states_ ? row_of(action_begin_, action_cells_, state) : std::span<const ActionCell>();
  }
  [[nodiscard]] std::span<const GotoCell> goto_row(uint64_t state) const noexcept {
    return state < num_states_ ? row_of(goto_begin_, goto_cells_, state) : std::span<const GotoCell>();
  }

 private:
  ParserTables() = default;

  // Binary search of a row sorted by id, in the form the parse loop runs it:
  // a one-cell row is a single comparison.
  template <class Cell>
  static const Cell* find_cell(std::span<const Cell> row, uint32_t id) noexcept {
    if (row.empty()) return nullptr;
    size_t base = 0;
    size_t size = row.size();
    while (size > 1) {
      size_t half = size / 2;
      size_t mid = base + half;
      if (row[mid].id <= id) base = mid;
      size -= half;
    }
    return row[base].id == id ? &row[base] : nullptr;
  }

  template <class Cell>
  static std::span<const Cell> row_of(const std::vector<size_t>& begin, const std::vector<Cell>& cells,
                                      uint64_t state) noexcept {
    if (begin.empty() || state >= begin.size() - 1) return {};
    const size_t b = begin[static_cast<size_t>(state)];
    const size_t e = begin[static_cast<size_t>(state) + 1];
    return {cells.data() + b, e - b};
  }

  using ActionRows = std::vector<std::pair<uint64_t, std::vector<ActionCell>>>;
  using GotoRows = std::vector<std::pair<uint64_t, std::vector<GotoCell>>>;
  // Sorts every row by id, drops rows at or beyond num_states and lays the
  // rest out contiguously.
  void lay_out(ActionRows action_rows, GotoRows goto_rows);
  // Builds the lookup index of names_by_id_.
  void index_names();

  uint64_t num_states_ = 0;
  // Row r occupies cells [begin[r], begin[r + 1]). Only states up to the last
  // one with a non-empty row are represented; all later states (below
  // num_states_) have empty rows, so memory follows the content rather than
  // the declared number of states.
  std::vector<size_t> action_begin_;
  std::vector<ActionCell> action_cells_;
  std::vector<size_t> goto_begin_;
  std::vector<GotoCell> goto_cells_;
  // The numbering of the names: names by id, and for symbol_id an
  // open-addressing table of id + 1 (0: empty) at a cheap hash of the text.
  std::vector<std::string> names_by_id_;
  std::vector<uint32_t> name_slots_;
};

}  // namespace vx
