// LRTable::build: the construction pipeline and the filling of the action
// and goto rows.
#include <algorithm>
#include <limits>
#include <utility>

#include "common/internal_failure.hpp"
#include "lr_table/conflicts.hpp"
#include "lr_table/lalr.hpp"
#include "lr_table/lr0.hpp"
#include "lr_table/lr_table.hpp"
#include "lr_table/row_cells.hpp"

namespace vx {

class LRTableBuilder {
 public:
  static LRTable run(Grammar& g);

 private:
  static void fill(const Grammar& g, const GrammarIndex& gi, const Lr0Automaton& lr0, LRTable& t);
};

LRTable LRTable::build(Grammar& grammar) { return LRTableBuilder::run(grammar); }

LRTable LRTableBuilder::run(Grammar& g) {
  // The sets themselves are not used below; this fills the grammar's caches
  // and stops a build without a start symbol.
  g.compute_first();
  g.compute_follow();

  const GrammarIndex gi(g);
  const Lr0Automaton lr0 = build_lr0(gi);
  LalrAnalysis la = analyse_lalr(gi, lr0);

  LRTable t;
  t.names_.reserve(g.num_symbols());
  for (SymbolId s = 0; s < g.num_symbols(); ++s) t.names_.push_back(g.name(s));

  t.state_begin_.reserve(lr0.num_states() + 1);
  t.items_.reserve(lr0.items.size());
  for (size_t s = 0; s < lr0.num_states(); ++s) {
    for (ItemId it : lr0.items_of(s)) t.items_.push_back({gi.item_prod[it], gi.dot_of(it)});
    t.state_begin_.push_back(t.items_.size());
  }
  t.lookaheads_ = std::move(la.lookaheads);
  t.lookahead_index_ = std::move(la.lookahead_index);
  fill(g, gi, lr0, t);
  return t;
}

void LRTableBuilder::fill(const Grammar& g, const GrammarIndex& gi, const Lr0Automaton& lr0, LRTable& t) {
  constexpr auto kMaxEntry = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  // Shift targets and reductions are signed 32-bit entries.
  if (lr0.num_states() - 1 > kMaxEntry) internal_failure("LALR table: more than 2147483648 states");
  if (gi.num_productions - 1 > kMaxEntry) internal_failure("LALR table: more than 2147483648 productions");

  struct Slot {
    SymbolId symbol;
    ActionEntry entry;
    LrItem origin;  // the item whose action the entry holds (none for accept)
  };
  RowIndex target_of(gi.num_symbols);  // of the current state's transitions
  RowCells<Slot> row(gi.num_symbols);
  RowCells<GotoCellRec> goto_row(gi.num_symbols);

  t.action_begin_.reserve(lr0.num_states() + 1);
  t.goto_begin_.reserve(lr0.num_states() + 1);
  for (uint32_t st = 0; st < lr0.num_states(); ++st) {
    target_of.next_row();
    row.next_row();
    goto_row.next_row();
    for (const Transition& tr : lr0.transitions_of(st)) target_of.set(tr.symbol, tr.target);
    auto place = [&](SymbolId a, int32_t action, LrItem item) {
      auto [slot, fresh] = row.place(a, {a, action, item});
      if (!fresh) resolve_conflict(st, a, slot.entry, slot.origin, action, item, g, t.conflicts_);
    };

    for (ItemId it : lr0.items_of(st)) {
      const uint32_t p = gi.item_prod[it];
      const LrItem item{p, gi.dot_of(it)};
      const SymbolId x = gi.item_next[it];
      if (x == kNoSymbol) {
        if (gi.prod_name[p] == gi.augmented) {
          // Accept, by plain assignment: never contested, no origin, no record.
          auto [slot, fresh] = row.place(kEndSymbol, {kEndSymbol, 0, item});
          if (!fresh) slot.entry = 0;
        } else if (const auto* la = t.lookahead(st, p)) {
          for (SymbolId a : *la) place(a, -static_cast<int32_t>(p), item);
        }
        continue;
      }
      const uint32_t* target = target_of.find(x);
      if (!target) internal_failure("LALR table: symbol after a dot without a transition");
      const uint32_t j = *target;
      if (gi.terminal[x]) {
        place(x, static_cast<int32_t>(j), item);
      } else if (gi.nonterminal[x]) {
        auto [cell, fresh] = goto_row.place(x, {x, j});
        if (!fresh) cell.target = j;
      }
      // A name that is neither terminal nor rule places nothing.
    }

    for (const Slot& s : row.cells()) t.action_cells_.push_back({s.symbol, s.entry});
    t.action_begin_.push_back(t.action_cells_.size());
    t.goto_cells_.insert(t.goto_cells_.end(), goto_row.cells().begin(), goto_row.cells().end());
    t.goto_begin_.push_back(t.goto_cells_.size());
  }
}

// ---------------------------------------------------------------------------
// Reading the record

std::vector<LrItem> LRTable::item_set(size_t s) const {
  auto items = state(s);
  std::vector<LrItem> out(items.begin(), items.end());
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

const std::vector<SymbolId>* LRTable::lookahead(uint32_t state, uint32_t production) const {
  auto it = lookahead_index_.find((uint64_t{state} << 32) | production);
  if (it == lookahead_index_.end()) return nullptr;
  return &lookaheads_[it->second].terminals;
}

ActionMap LRTable::action_map() const {
  ActionMap out;
  out.reserve(num_states());
  for (size_t s = 0; s < num_states(); ++s) {
    auto& row = out[s];
    for (const ActionCellRec& c : action_row(s)) row.emplace(names_[c.symbol], c.entry);
  }
  return out;
}

GotoMap LRTable::goto_map() const {
  GotoMap out;
  out.reserve(num_states());
  for (size_t s = 0; s < num_states(); ++s) {
    auto& row = out[s];
    for (const GotoCellRec& c : goto_row(s)) row.emplace(names_[c.symbol], c.target);
  }
  return out;
}

std::shared_ptr<const ParserTables> LRTable::make_parser_tables() const {
  std::vector<ParserTables::IndexedRows> rows(num_states());
  for (size_t s = 0; s < num_states(); ++s) {
    rows[s].state = s;
    for (const ActionCellRec& c : action_row(s)) rows[s].action.push_back({c.symbol, c.entry});
    for (const GotoCellRec& c : goto_row(s)) rows[s].goto_.push_back({c.symbol, c.target});
  }
  return ParserTables::from_indexed_rows(num_states(), names_, rows);
}

}  // namespace vx
