#include "lr_table/lalr.hpp"

#include <limits>
#include <utility>

#include "common/internal_failure.hpp"
#include "grammar/digraph.hpp"
#include "grammar/nullable.hpp"

namespace vx {

namespace {
constexpr uint32_t kNoNode = std::numeric_limits<uint32_t>::max();
}

std::vector<uint8_t> nullable_rules(const GrammarIndex& gi) {
  // A symbol that is not a rule name never vanishes.
  return nullable_rules(
      gi.num_symbols, gi.num_productions, [&](uint32_t p) { return gi.rhs_of(p); },
      [&](uint32_t p) { return gi.prod_name[p]; }, [&](SymbolId s) { return !gi.productions_of(s).empty(); },
      [](SymbolId) { return false; });
}

LalrAnalysis analyse_lalr(const GrammarIndex& gi, const Lr0Automaton& lr0) {
  LalrAnalysis r;
  r.nullable = nullable_rules(gi);
  const size_t num_states = lr0.num_states();

  // Nodes: the nonterminal transitions, state by state in outgoing order.
  std::vector<uint32_t> node_of_trans(lr0.trans.size(), kNoNode);
  std::vector<uint32_t> node_begin;  // by state, plus one
  node_begin.reserve(num_states + 1);
  for (uint32_t s = 0; s < num_states; ++s) {
    node_begin.push_back(static_cast<uint32_t>(r.nodes.size()));
    for (uint32_t t = lr0.trans_begin[s]; t < lr0.trans_begin[s + 1]; ++t) {
      const Transition& tr = lr0.trans[t];
      if (!gi.nonterminal[tr.symbol]) continue;
      node_of_trans[t] = static_cast<uint32_t>(r.nodes.size());
      r.nodes.push_back({s, tr.symbol, tr.target});
    }
  }
  node_begin.push_back(static_cast<uint32_t>(r.nodes.size()));
  const size_t n = r.nodes.size();
  auto node_at = [&](uint32_t state, SymbolId symbol) -> uint32_t {
    auto t = lr0.index.find(state, symbol);
    return t ? node_of_trans[*t] : kNoNode;
  };

  // Direct reads and reads, from the goto of each node computed afresh (its
  // item order may differ from that of the state it leads to).
  r.direct_reads.resize(n);
  r.reads.resize(n);
  {
    Lr0Closure closure(gi);
    ItemGrouper groups(gi);
    std::vector<ItemId> g;
    std::vector<uint32_t> seen(gi.num_symbols, kNoNode);
    for (uint32_t p = 0; p < num_states; ++p) {
      if (node_begin[p] == node_begin[p + 1]) continue;
      groups.group(lr0.items_of(p));  // groups come in transition order
      for (size_t k = 0; k < groups.size(); ++k) {
        const uint32_t t = lr0.trans_begin[p] + static_cast<uint32_t>(k);
        const uint32_t x = node_of_trans[t];
        if (x == kNoNode) continue;
        g.clear();
        closure.closure(groups.kernel(k), g);
        auto& dr = r.direct_reads[x];
        for (ItemId it : g) {
          const SymbolId a = gi.item_next[it];
          if (a != kNoSymbol && gi.terminal[a] && seen[a] != x) {
            seen[a] = x;
            dr.push_back(a);
          }
        }
        if (p == 0) {
          if (gi.rhs_len(0) == 0) internal_failure("LALR lookaheads: production 0 has no start symbol");
          if (r.nodes[x].symbol == gi.rhs[gi.rhs_begin[0]] && seen[kEndSymbol] != x) {
            seen[kEndSymbol] = x;
            dr.push_back(kEndSymbol);
          }
        }
        const uint32_t target = r.nodes[x].target;
        for (ItemId it : g) {
          const SymbolId b = gi.item_next[it];
          if (b != kNoSymbol && r.nullable[b]) {
            const uint32_t y = node_at(target, b);
            if (y == kNoNode) internal_failure("LALR lookaheads: nullable symbol after a dot without a transition");
            r.reads[x].push_back(y);
          }
        }
      }
    }
  }

  r.read_sets = ordered_digraph(
      n, gi.num_symbols, [&](uint32_t x) { return r.direct_reads[x]; },
      [&](uint32_t x) -> const std::vector<uint32_t>& { return r.reads[x]; });

  // Includes and lookback. For node (p, A), the items (q, 0) of state p with
  // production q named A, in item order; nodes of one state are contiguous.
  r.includes.resize(n);
  r.lookback.resize(n);
  {
    std::vector<uint32_t> vanish_from(gi.num_productions);  // first position of the nullable suffix
    for (uint32_t q = 0; q < gi.num_productions; ++q) {
      const auto rhs = gi.rhs_of(q);
      size_t k = rhs.size();
      while (k > 0 && r.nullable[rhs[k - 1]]) --k;
      vanish_from[q] = static_cast<uint32_t>(k);
    }
    std::vector<uint32_t> bucket_begin;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // (node, production) in item order
    std::vector<uint32_t> bucket;
    for (uint32_t p = 0; p < num_states; ++p) {
      const uint32_t nb = node_begin[p];
      const uint32_t ne = node_begin[p + 1];
      if (nb == ne) continue;
      pairs.clear();
      for (ItemId it : lr0.items_of(p)) {
        const uint32_t q = gi.item_prod[it];
        if (it != gi.item_base[q]) continue;  // dot not at 0
        const uint32_t x = node_at(p, gi.prod_name[q]);
        if (x != kNoNode) pairs.emplace_back(x, q);
      }
      // Stable bucketing by node.
      bucket_begin.assign(ne - nb + 1, 0);
      for (const auto& pr : pairs) ++bucket_begin[pr.first - nb + 1];
      for (size_t k = 1; k < bucket_begin.size(); ++k) bucket_begin[k] += bucket_begin[k - 1];
      bucket.resize(pairs.size());
      {
        std::vector<uint32_t> cursor(bucket_begin.begin(), bucket_begin.end() - 1);
        for (const auto& pr : pairs) bucket[cursor[pr.first - nb]++] = pr.second;
      }
      for (uint32_t x = nb; x < ne; ++x) {
        for (uint32_t k = bucket_begin[x - nb]; k < bucket_begin[x - nb + 1]; ++k) {
          const uint32_t q = bucket[k];
          const auto rhs = gi.rhs_of(q);
          uint32_t j = p;
          bool reached = true;
          for (uint32_t i = 0; i < rhs.size(); ++i) {
            const auto t = lr0.index.find(j, rhs[i]);
            if (t && node_of_trans[*t] != kNoNode && i + 1 >= vanish_from[q]) {
              r.includes[node_of_trans[*t]].push_back(x);
            }
            if (!t) {
              reached = false;
              break;
            }
            j = lr0.trans[*t].target;
          }
          if (reached) r.lookback[x].push_back({j, q});
        }
      }
    }
  }

  r.follow = ordered_digraph(
      n, gi.num_symbols, [&](uint32_t x) { return r.read_sets[x]; },
      [&](uint32_t x) -> const std::vector<uint32_t>& { return r.includes[x]; });

  // Lookahead lists: union of the Follow lists of each item's lookback
  // nodes, in node order.
  UniqueExtender extender(gi.num_symbols);
  for (uint32_t x = 0; x < n; ++x) {
    for (const LookbackPair& lb : r.lookback[x]) {
      const uint64_t key = (uint64_t{lb.state} << 32) | lb.production;
      auto [it, fresh] = r.lookahead_index.try_emplace(key, static_cast<uint32_t>(r.lookaheads.size()));
      if (fresh) r.lookaheads.push_back({lb.state, lb.production, {}});
      extender.extend(r.lookaheads[it->second].terminals, r.follow[x]);
    }
  }
  return r;
}

}  // namespace vx
