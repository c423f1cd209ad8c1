#include "lr_table/lr0.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/internal_failure.hpp"

namespace vx {

namespace {

uint64_t mix64(uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Goto kernels of the states created so far (sorted, duplicate-free item
// lists), hashed for lookup. A goto result's item set is its kernel set
// (items with the dot past 0) plus the closure of that set (items with the dot
// at 0), so two goto results have equal item sets exactly when their kernel
// sets are equal, and no goto result equals the start state, whose items all
// have the dot at 0. Comparing kernels thus decides state identity and
// spares the closure of every goto that leads to a known state.
class KernelTable {
 public:
  KernelTable() { resize(64); }

  // The state already holding `key`, or `fresh` after entering `key` for it.
  std::pair<uint32_t, bool> find_or_insert(std::span<const ItemId> key, uint32_t fresh) {
    const uint64_t h = hash(key);
    size_t slot = h & mask_;
    while (slots_[slot] != kEmpty) {
      const uint32_t e = slots_[slot];
      if (hashes_[e] == h && equal(e, key)) return {states_[e], false};
      slot = (slot + 1) & mask_;
    }
    const auto e = static_cast<uint32_t>(states_.size());
    slots_[slot] = e;
    hashes_.push_back(h);
    states_.push_back(fresh);
    data_.insert(data_.end(), key.begin(), key.end());
    begin_.push_back(data_.size());
    if (states_.size() * 2 > slots_.size()) resize(slots_.size() * 2);
    return {fresh, true};
  }

 private:
  static constexpr uint32_t kEmpty = std::numeric_limits<uint32_t>::max();

  static uint64_t hash(std::span<const ItemId> key) noexcept {
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ key.size();
    for (ItemId v : key) h = mix64(h ^ v);
    return h;
  }
  bool equal(uint32_t e, std::span<const ItemId> key) const noexcept {
    const size_t n = begin_[e + 1] - begin_[e];
    return n == key.size() && std::memcmp(data_.data() + begin_[e], key.data(), n * sizeof(ItemId)) == 0;
  }
  void resize(size_t capacity) {
    slots_.assign(capacity, kEmpty);
    mask_ = capacity - 1;
    for (uint32_t e = 0; e < states_.size(); ++e) {
      size_t slot = hashes_[e] & mask_;
      while (slots_[slot] != kEmpty) slot = (slot + 1) & mask_;
      slots_[slot] = e;
    }
  }

  std::vector<uint32_t> slots_;
  size_t mask_ = 0;
  std::vector<uint64_t> hashes_;
  std::vector<uint32_t> states_;
  std::vector<ItemId> data_;
  std::vector<size_t> begin_{0};
};

}  // namespace

GrammarIndex::GrammarIndex(const Grammar& g) {
  num_symbols = g.num_symbols();
  num_productions = g.num_productions();
  const auto& prods = g.productions();
  prod_name.reserve(num_productions);
  rhs_begin.reserve(num_productions + 1);
  item_base.reserve(num_productions + 1);
  size_t total_rhs = 0;
  for (const auto& p : prods) total_rhs += p.syms.size();
  if (total_rhs + num_productions >= std::numeric_limits<uint32_t>::max()) {
    internal_failure("grammar too large: more than 4294967294 LR(0) items");
  }
  rhs.reserve(total_rhs);
  for (const auto& p : prods) {
    prod_name.push_back(p.name);
    rhs_begin.push_back(static_cast<uint32_t>(rhs.size()));
    rhs.insert(rhs.end(), p.syms.begin(), p.syms.end());
  }
  rhs_begin.push_back(static_cast<uint32_t>(rhs.size()));

  const size_t num_items = total_rhs + num_productions;
  item_next.reserve(num_items);
  item_prod.reserve(num_items);
  for (uint32_t p = 0; p < num_productions; ++p) {
    item_base.push_back(static_cast<ItemId>(item_next.size()));
    for (SymbolId s : rhs_of(p)) {
      item_next.push_back(s);
      item_prod.push_back(p);
    }
    item_next.push_back(kNoSymbol);
    item_prod.push_back(p);
  }
  item_base.push_back(static_cast<ItemId>(item_next.size()));

  rule_begin.reserve(num_symbols + 1);
  terminal.resize(num_symbols);
  nonterminal.resize(num_symbols);
  for (SymbolId s = 0; s < num_symbols; ++s) {
    rule_begin.push_back(static_cast<uint32_t>(rule_prods.size()));
    auto list = g.productions_of(s);
    rule_prods.insert(rule_prods.end(), list.begin(), list.end());
    terminal[s] = g.is_terminal(s) ? 1 : 0;
    nonterminal[s] = g.is_nonterminal(s) ? 1 : 0;
  }
  rule_begin.push_back(static_cast<uint32_t>(rule_prods.size()));
  if (auto a = g.find_symbol(kAugmentedStartName)) augmented = *a;
}

void Lr0Closure::closure(std::span<const ItemId> kernel, std::vector<ItemId>& out) {
  if (++gen_ == 0) {
    std::fill(expanded_.begin(), expanded_.end(), 0);
    gen_ = 1;
  }
  size_t k = out.size();
  out.insert(out.end(), kernel.begin(), kernel.end());
  for (; k < out.size(); ++k) {
    const SymbolId x = gi_.item_next[out[k]];
    // Every production of a rule enters together, so "rule already expanded"
    // is "each of its productions already added".
    if (x == kNoSymbol || expanded_[x] == gen_) continue;
    expanded_[x] = gen_;
    for (uint32_t q : gi_.productions_of(x)) out.push_back(gi_.item_base[q]);
  }
}

void ItemGrouper::group(std::span<const ItemId> items) {
  if (++gen_ == 0) {
    std::fill(stamp_.begin(), stamp_.end(), 0);
    gen_ = 1;
  }
  symbols_.clear();
  begin_.clear();
  for (ItemId it : items) {
    const SymbolId x = gi_.item_next[it];
    if (x == kNoSymbol) continue;
    if (stamp_[x] != gen_) {
      stamp_[x] = gen_;
      slot_[x] = static_cast<uint32_t>(symbols_.size());
      symbols_.push_back(x);
      begin_.push_back(0);
    }
    ++begin_[slot_[x]];
  }
  // Counts to offsets; begin_[k] becomes the start of group k.
  uint32_t sum = 0;
  for (auto& b : begin_) {
    const uint32_t c = b;
    b = sum;
    sum += c;
  }
  begin_.push_back(sum);
  kernels_.resize(sum);
  // Fill, using the group ends as cursors, then restore the starts.
  std::vector<uint32_t>& cursor = begin_;
  for (ItemId it : items) {
    const SymbolId x = gi_.item_next[it];
    if (x == kNoSymbol) continue;
    kernels_[cursor[slot_[x]]++] = it + 1;
  }
  // Each start has moved to the next group's start.
  for (size_t k = symbols_.size(); k > 0; --k) begin_[k] = begin_[k - 1];
  begin_[0] = 0;
}

void TransitionIndex::build(std::span<const uint32_t> trans_begin, std::span<const Transition> trans) {
  size_t cap = 16;
  unsigned bits = 4;
  while (cap < trans.size() * 2) {
    cap *= 2;
    ++bits;
  }
  shift_ = 64 - bits;
  keys_.assign(cap, std::numeric_limits<uint64_t>::max());
  values_.assign(cap, 0);
  const size_t mask = cap - 1;
  for (uint32_t s = 0; s + 1 < trans_begin.size(); ++s) {
    for (uint32_t t = trans_begin[s]; t < trans_begin[s + 1]; ++t) {
      const uint64_t k = key(s, trans[t].symbol);
      size_t slot = (k * 0x9E3779B97F4A7C15ULL) >> shift_;
      while (keys_[slot] != std::numeric_limits<uint64_t>::max()) slot = (slot + 1) & mask;
      keys_[slot] = k;
      values_[slot] = t;
    }
  }
}

std::optional<uint32_t> TransitionIndex::find(uint32_t state, SymbolId symbol) const noexcept {
  if (keys_.empty()) return std::nullopt;
  const uint64_t k = key(state, symbol);
  const size_t mask = keys_.size() - 1;
  size_t slot = (k * 0x9E3779B97F4A7C15ULL) >> shift_;
  for (;;) {
    const uint64_t here = keys_[slot];
    if (here == k) return values_[slot];
    if (here == std::numeric_limits<uint64_t>::max()) return std::nullopt;
    slot = (slot + 1) & mask;
  }
}

Lr0Automaton build_lr0(const GrammarIndex& gi) {
  if (gi.num_productions == 0) internal_failure("LR(0) construction: the grammar has no production 0");
  Lr0Automaton a;
  Lr0Closure closure(gi);
  ItemGrouper groups(gi);
  KernelTable kernels;
  std::vector<ItemId> key;

  const ItemId start = gi.item_base[0];
  closure.closure({&start, 1}, a.items);
  a.state_begin.push_back(static_cast<uint32_t>(a.items.size()));

  for (uint32_t i = 0; i < a.num_states(); ++i) {
    groups.group(a.items_of(i));  // copies what it needs before items grow
    for (size_t k = 0; k < groups.size(); ++k) {
      const auto kernel = groups.kernel(k);
      key.assign(kernel.begin(), kernel.end());
      if (key.size() > 1) {
        std::sort(key.begin(), key.end());
        key.erase(std::unique(key.begin(), key.end()), key.end());
      }
      const size_t fresh = a.num_states();
      if (fresh >= std::numeric_limits<uint32_t>::max()) internal_failure("LR(0) construction: too many states");
      const auto [target, is_new] = kernels.find_or_insert(key, static_cast<uint32_t>(fresh));
      if (is_new) {
        closure.closure(kernel, a.items);
        if (a.items.size() >= std::numeric_limits<uint32_t>::max()) {
          internal_failure("LR(0) construction: too many items");
        }
        a.state_begin.push_back(static_cast<uint32_t>(a.items.size()));
      }
      a.trans.push_back({groups.symbol(k), target});
    }
    a.trans_begin.push_back(static_cast<uint32_t>(a.trans.size()));
  }
  a.index.build(a.trans_begin, a.trans);
  return a;
}

}  // namespace vx
