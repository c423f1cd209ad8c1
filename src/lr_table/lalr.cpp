#include "lr_table/lalr.hpp"

#include <limits>
#include <span>
#include <utility>

#include "common/internal_failure.hpp"
#include "grammar/digraph.hpp"
#include "grammar/nullable.hpp"

namespace vx {

namespace {

constexpr uint32_t kNoNode = std::numeric_limits<uint32_t>::max();

// One construction of the relations over one automaton, phase by phase in
// the order of analyse_lalr: each phase fills its members of the result from
// those of the phases before it.
class LalrAnalyser {
 public:
  LalrAnalyser(const GrammarIndex& gi, const Lr0Automaton& lr0) : gi_(gi), lr0_(lr0) {}

  void find_nullable() { r_.nullable = nullable_rules(gi_); }
  void number_nodes();
  void find_reads();
  void close_reads() { r_.read_sets = close_over(r_.direct_reads, r_.reads); }
  void find_includes_and_lookback();
  void close_follow() { r_.follow = close_over(r_.read_sets, r_.includes); }
  void collect_lookaheads();

  [[nodiscard]] LalrAnalysis take() && { return std::move(r_); }

 private:
  [[nodiscard]] size_t num_nodes() const noexcept { return r_.nodes.size(); }
  // The node of the transition (state, symbol), or kNoNode when there is no
  // such transition or it is on a terminal.
  [[nodiscard]] uint32_t node_at(uint32_t state, SymbolId symbol) const {
    auto t = lr0_.index.find(state, symbol);
    return t ? node_of_trans_[*t] : kNoNode;
  }
  void add_direct_reads(uint32_t p, uint32_t x, std::span<const ItemId> go);
  void add_reads(uint32_t x, std::span<const ItemId> go);
  [[nodiscard]] std::span<const std::pair<uint32_t, uint32_t>> starts_by_node(uint32_t p);
  void add_includes_and_lookback(uint32_t p, uint32_t x, uint32_t q);
  // F(x) = initial(x) ∪ ⋃ { F(y) | x R y } over the nodes.
  [[nodiscard]] std::vector<std::vector<SymbolId>> close_over(
      const std::vector<std::vector<SymbolId>>& initial, const std::vector<std::vector<uint32_t>>& relation) const {
    return ordered_digraph(
        num_nodes(), gi_.num_symbols, [&](uint32_t x) { return initial[x]; },
        [&](uint32_t x) -> const std::vector<uint32_t>& { return relation[x]; });
  }

  const GrammarIndex& gi_;
  const Lr0Automaton& lr0_;
  LalrAnalysis r_;
  std::vector<uint32_t> node_of_trans_;  // by transition: its node, or kNoNode
  std::vector<uint32_t> node_begin_;     // by state, plus one: into nodes
  std::vector<uint32_t> vanish_from_;    // by production: first position of its nullable suffix
  std::vector<uint32_t> seen_;           // by symbol: the last node it was added to as a direct read
  // Scratch space of starts_by_node.
  std::vector<std::pair<uint32_t, uint32_t>> pairs_;
  std::vector<std::pair<uint32_t, uint32_t>> by_node_;
  std::vector<uint32_t> cursor_;
};

// Nodes: the nonterminal transitions, state by state in outgoing order.
void LalrAnalyser::number_nodes() {
  const size_t num_states = lr0_.num_states();
  node_of_trans_.assign(lr0_.trans.size(), kNoNode);
  node_begin_.reserve(num_states + 1);
  for (uint32_t s = 0; s < num_states; ++s) {
    node_begin_.push_back(static_cast<uint32_t>(r_.nodes.size()));
    for (uint32_t t = lr0_.trans_begin[s]; t < lr0_.trans_begin[s + 1]; ++t) {
      const Transition& tr = lr0_.trans[t];
      if (!gi_.nonterminal[tr.symbol]) continue;
      node_of_trans_[t] = static_cast<uint32_t>(r_.nodes.size());
      r_.nodes.push_back({s, tr.symbol, tr.target});
    }
  }
  node_begin_.push_back(static_cast<uint32_t>(r_.nodes.size()));
}

// Direct reads and reads, from the goto of each node computed afresh (its
// item order may differ from that of the state it leads to).
void LalrAnalyser::find_reads() {
  r_.direct_reads.resize(num_nodes());
  r_.reads.resize(num_nodes());
  Lr0Closure closure(gi_);
  ItemGrouper groups(gi_);
  std::vector<ItemId> go;
  seen_.assign(gi_.num_symbols, kNoNode);
  for (uint32_t p = 0; p < lr0_.num_states(); ++p) {
    if (node_begin_[p] == node_begin_[p + 1]) continue;
    groups.group(lr0_.items_of(p));  // groups come in transition order
    for (size_t k = 0; k < groups.size(); ++k) {
      const uint32_t x = node_of_trans_[lr0_.trans_begin[p] + static_cast<uint32_t>(k)];
      if (x == kNoNode) continue;
      go.clear();
      closure.closure(groups.kernel(k), go);
      add_direct_reads(p, x, go);
      add_reads(x, go);
    }
  }
}

// DR(x): the terminals after a dot in the goto `go` of node x from state p,
// and "$end" on the start symbol's transition from state 0.
void LalrAnalyser::add_direct_reads(uint32_t p, uint32_t x, std::span<const ItemId> go) {
  auto& dr = r_.direct_reads[x];
  auto add = [&](SymbolId a) {
    if (seen_[a] == x) return;
    seen_[a] = x;
    dr.push_back(a);
  };
  for (ItemId it : go) {
    const SymbolId a = gi_.item_next[it];
    if (a != kNoSymbol && gi_.terminal[a]) add(a);
  }
  if (p == 0) {
    if (gi_.rhs_len(0) == 0) internal_failure("LALR lookaheads: production 0 has no start symbol");
    if (r_.nodes[x].symbol == gi_.rhs[gi_.rhs_begin[0]]) add(kEndSymbol);
  }
}

// x reads y: y is the transition on a nullable symbol after a dot in the
// goto `go` of node x, out of the state x leads to.
void LalrAnalyser::add_reads(uint32_t x, std::span<const ItemId> go) {
  const uint32_t target = r_.nodes[x].target;
  for (ItemId it : go) {
    const SymbolId b = gi_.item_next[it];
    if (b != kNoSymbol && r_.nullable[b]) {
      const uint32_t y = node_at(target, b);
      if (y == kNoNode) internal_failure("LALR lookaheads: nullable symbol after a dot without a transition");
      r_.reads[x].push_back(y);
    }
  }
}

// Includes and lookback: for each node (p, A), the walks of the productions
// named A from state p, in the order of their items (q, 0) in state p.
void LalrAnalyser::find_includes_and_lookback() {
  r_.includes.resize(num_nodes());
  r_.lookback.resize(num_nodes());
  vanish_from_.resize(gi_.num_productions);
  for (uint32_t q = 0; q < gi_.num_productions; ++q) {
    const auto rhs = gi_.rhs_of(q);
    size_t k = rhs.size();
    while (k > 0 && r_.nullable[rhs[k - 1]]) --k;
    vanish_from_[q] = static_cast<uint32_t>(k);
  }
  for (uint32_t p = 0; p < lr0_.num_states(); ++p) {
    if (node_begin_[p] == node_begin_[p + 1]) continue;
    for (const auto& [x, q] : starts_by_node(p)) add_includes_and_lookback(p, x, q);
  }
}

// The items (q, 0) of state p whose production's name A has the node
// x = (p, A), as pairs (x, q) in node order and, within a node, in item
// order. The nodes of one state are contiguous.
std::span<const std::pair<uint32_t, uint32_t>> LalrAnalyser::starts_by_node(uint32_t p) {
  const uint32_t nb = node_begin_[p];
  pairs_.clear();
  for (ItemId it : lr0_.items_of(p)) {
    const uint32_t q = gi_.item_prod[it];
    if (it != gi_.item_base[q]) continue;  // dot not at 0
    const uint32_t x = node_at(p, gi_.prod_name[q]);
    if (x != kNoNode) pairs_.emplace_back(x, q);
  }
  // Stable counting sort by node: cursor_[x - nb] starts as the number of
  // pairs of the nodes before x.
  cursor_.assign(node_begin_[p + 1] - nb + 1, 0);
  for (const auto& pr : pairs_) ++cursor_[pr.first - nb + 1];
  for (size_t k = 1; k < cursor_.size(); ++k) cursor_[k] += cursor_[k - 1];
  by_node_.resize(pairs_.size());
  for (const auto& pr : pairs_) by_node_[cursor_[pr.first - nb]++] = pr;
  return by_node_;
}

// The walk of production q from state p, for node x = (p, A) with A the
// name of q: each nonterminal transition on the way after which the rest of
// q can vanish includes x, and the completed q in the state reached at the
// end (if the walk gets there) looks back on x.
void LalrAnalyser::add_includes_and_lookback(uint32_t p, uint32_t x, uint32_t q) {
  const auto rhs = gi_.rhs_of(q);
  uint32_t j = p;
  for (uint32_t i = 0; i < rhs.size(); ++i) {
    const auto t = lr0_.index.find(j, rhs[i]);
    if (!t) return;
    if (node_of_trans_[*t] != kNoNode && i + 1 >= vanish_from_[q]) r_.includes[node_of_trans_[*t]].push_back(x);
    j = lr0_.trans[*t].target;
  }
  r_.lookback[x].push_back({j, q});
}

// Lookahead lists: union of the Follow lists of each item's lookback
// nodes, in node order.
void LalrAnalyser::collect_lookaheads() {
  UniqueExtender extender(gi_.num_symbols);
  for (uint32_t x = 0; x < num_nodes(); ++x) {
    for (const LookbackPair& lb : r_.lookback[x]) {
      const uint64_t key = (uint64_t{lb.state} << 32) | lb.production;
      auto [it, fresh] = r_.lookahead_index.try_emplace(key, static_cast<uint32_t>(r_.lookaheads.size()));
      if (fresh) r_.lookaheads.push_back({lb.state, lb.production, {}});
      extender.extend(r_.lookaheads[it->second].terminals, r_.follow[x]);
    }
  }
}

}  // namespace

std::vector<uint8_t> nullable_rules(const GrammarIndex& gi) {
  // A symbol that is not a rule name never vanishes.
  return nullable_rules(
      gi.num_symbols, gi.num_productions, [&](uint32_t p) { return gi.rhs_of(p); },
      [&](uint32_t p) { return gi.prod_name[p]; }, [&](SymbolId s) { return !gi.productions_of(s).empty(); },
      [](SymbolId) { return false; });
}

LalrAnalysis analyse_lalr(const GrammarIndex& gi, const Lr0Automaton& lr0) {
  LalrAnalyser a(gi, lr0);
  a.find_nullable();               // nullable
  a.number_nodes();                // nodes
  a.find_reads();                  // direct_reads, reads
  a.close_reads();                 // read_sets: Read
  a.find_includes_and_lookback();  // includes, lookback
  a.close_follow();                // follow: Follow
  a.collect_lookaheads();          // lookaheads, lookahead_index: LA
  return std::move(a).take();
}

}  // namespace vx
