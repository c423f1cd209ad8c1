// FIRST and FOLLOW sets.
//
// Both are least fixed points, computed here without repeated passes: the
// rules that derive the empty sequence come from a counting worklist, and
// the sets themselves from one digraph traversal each (FIRST over the
// "begins with" relation, FOLLOW over the "ends with" relation), which is
// linear in the size of the grammar and the sets even for long chains.
//
// FIRST leaves production 0 out (the "S'" production once a start symbol is
// set, so first["S'"] is empty). A name that is both a terminal and a rule
// name is treated as a rule name. A symbol that is neither stands for itself.
#include <algorithm>
#include <utility>

#include "common/internal_failure.hpp"
#include "grammar/digraph.hpp"
#include "grammar/grammar.hpp"
#include "grammar/nullable.hpp"

namespace vx {

namespace {

// Dense numbering of the rule names as digraph nodes.
struct RuleNodes {
  std::vector<uint32_t> node_of;  // by symbol id; kNone for non-rules
  std::vector<SymbolId> symbol;   // by node
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit RuleNodes(const Grammar& g) : node_of(g.num_symbols(), kNone) {
    for (SymbolId s = 0; s < g.num_symbols(); ++s) {
      if (g.is_nonterminal(s)) {
        node_of[s] = static_cast<uint32_t>(symbol.size());
        symbol.push_back(s);
      }
    }
  }
  [[nodiscard]] bool is_rule(SymbolId s) const { return node_of[s] != kNone; }
};

// Per node: an initial member list and a successor list, collected as pairs.
struct Relation {
  std::vector<std::vector<uint32_t>> initial;
  std::vector<std::vector<uint32_t>> succ;
  explicit Relation(size_t n) : initial(n), succ(n) {}
};

// The traversal keeps lists duplicate-free but takes initial lists as given.
void dedupe(std::vector<std::vector<uint32_t>>& lists) {
  for (auto& list : lists) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
}

}  // namespace

std::vector<SymbolId> Grammar::sequence_first(std::span<const SymbolId> seq, const SymbolSets& first) const {
  std::vector<SymbolId> out;
  if (seq.empty()) return {kEmptySymbol};
  for (SymbolId s : seq) {
    bool has_marker;
    if (auto e = first.find(s)) {
      has_marker = false;
      for (SymbolId m : first.members(*e)) {
        if (m == kEmptySymbol) {
          has_marker = true;
        } else {
          out.push_back(m);
        }
      }
    } else {
      has_marker = (s == kEmptySymbol);
      if (!has_marker) out.push_back(s);
    }
    if (!has_marker) {
      std::sort(out.begin(), out.end());
      out.erase(std::unique(out.begin(), out.end()), out.end());
      return out;
    }
  }
  out.push_back(kEmptySymbol);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

const SymbolSets& Grammar::compute_first() {
  if (!first_.empty()) return first_;
  const size_t n_sym = num_symbols();
  const RuleNodes rules(*this);

  // Rules deriving the empty sequence. A non-rule symbol derives it only
  // when it is the empty text itself (which is the marker).
  const std::vector<uint8_t> nullable = nullable_rules(
      n_sym, productions_.size(), [&](uint32_t p) -> const std::vector<SymbolId>& { return productions_[p].syms; },
      [&](uint32_t p) { return productions_[p].name; }, [&](SymbolId s) { return rules.is_rule(s); },
      [](SymbolId s) { return s == kEmptySymbol; });
  auto derives_empty = [&](SymbolId s) { return rules.is_rule(s) ? nullable[s] != 0 : s == kEmptySymbol; };

  // FIRST without the marker: rule n begins with symbol s when s stands in
  // a production of n after symbols that all derive the empty sequence.
  Relation rel(rules.symbol.size());
  for (uint32_t p = 1; p < productions_.size(); ++p) {
    const uint32_t n = rules.node_of[productions_[p].name];
    for (SymbolId s : productions_[p].syms) {
      if (rules.is_rule(s)) {
        rel.succ[n].push_back(rules.node_of[s]);
      } else if (s != kEmptySymbol) {
        rel.initial[n].push_back(s);
      }
      if (!derives_empty(s)) break;
    }
  }
  dedupe(rel.initial);
  auto sets = ordered_digraph(
      rules.symbol.size(), n_sym, [&](uint32_t x) { return std::move(rel.initial[x]); },
      [&](uint32_t x) -> const std::vector<uint32_t>& { return rel.succ[x]; });

  std::vector<std::pair<SymbolId, std::vector<SymbolId>>> entries;
  for (SymbolId s = 0; s < n_sym; ++s) {
    if (rules.is_rule(s)) {
      auto& set = sets[rules.node_of[s]];
      if (nullable[s]) set.push_back(kEmptySymbol);
      entries.emplace_back(s, std::move(set));
    } else if (is_terminal(s)) {
      entries.emplace_back(s, std::vector<SymbolId>{s});
    }
  }
  first_ = SymbolSets::from_entries(n_sym, std::move(entries));
  return first_;
}

const SymbolSets& Grammar::compute_follow() {
  if (!follow_.empty()) return follow_;
  const SymbolSets& first = compute_first();  // may describe an earlier grammar
  const size_t n_sym = num_symbols();
  const RuleNodes rules(*this);

  Relation rel(rules.symbol.size());
  if (start_) rel.initial[rules.node_of[*start_]].push_back(kEndSymbol);
  const auto augmented = find_symbol(kAugmentedStartName);
  if (!augmented || !rules.is_rule(*augmented)) {
    internal_failure(
        "FOLLOW sets need the augmented start symbol \"S'\": set the start symbol before building the table");
  }
  rel.initial[rules.node_of[*augmented]].push_back(kEndSymbol);

  // FIRST of one symbol against the cache: its members, and whether it
  // derives the empty sequence. A symbol without an entry stands for itself.
  auto first_of = [&](SymbolId s, auto&& add) -> bool {
    if (auto e = first.find(s)) {
      bool has_marker = false;
      for (SymbolId m : first.members(*e)) {
        if (m == kEmptySymbol) {
          has_marker = true;
        } else {
          add(m);
        }
      }
      return has_marker;
    }
    if (s == kEmptySymbol) return true;
    add(s);
    return false;
  };

  // W[B] gets FIRST of what follows B (without the marker); when all of it
  // can vanish, B "ends" A and W[B] also gets W[A].
  for (const Production& p : productions_) {
    const uint32_t a = rules.node_of[p.name];
    const auto& syms = p.syms;
    for (size_t i = 0; i < syms.size(); ++i) {
      if (!rules.is_rule(syms[i])) continue;
      const uint32_t b = rules.node_of[syms[i]];
      bool rest_vanishes = true;
      for (size_t j = i + 1; j < syms.size(); ++j) {
        if (!first_of(syms[j], [&](SymbolId m) { rel.initial[b].push_back(m); })) {
          rest_vanishes = false;
          break;
        }
      }
      if (rest_vanishes) rel.succ[b].push_back(a);
    }
  }
  dedupe(rel.initial);
  auto sets = ordered_digraph(
      rules.symbol.size(), n_sym, [&](uint32_t x) { return std::move(rel.initial[x]); },
      [&](uint32_t x) -> const std::vector<uint32_t>& { return rel.succ[x]; });

  std::vector<std::pair<SymbolId, std::vector<SymbolId>>> entries;
  entries.reserve(rules.symbol.size());
  for (uint32_t x = 0; x < rules.symbol.size(); ++x) entries.emplace_back(rules.symbol[x], std::move(sets[x]));
  follow_ = SymbolSets::from_entries(n_sym, std::move(entries));
  return follow_;
}

}  // namespace vx
