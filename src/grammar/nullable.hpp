// The rule names that derive the empty sequence, shared by FIRST and FOLLOW
// and by the LALR(1) lookaheads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vx {

// By symbol id: 1 for a rule name that derives the empty sequence. A
// counting worklist over productions 1, 2, ... (production 0, the "S'"
// production, is skipped): a production vanishes once all its symbols do.
// `rhs(p)` gives production p's symbols and `name(p)` its rule name;
// `is_rule(s)` says whether s is a rule name; any other symbol vanishes
// only where `vanishes(s)` says so. (FIRST reads a symbol named by the empty
// text, the marker, as vanishing; the lookaheads read no other symbol so.)
template <class Rhs, class Name, class IsRule, class Vanishes>
[[nodiscard]] std::vector<uint8_t> nullable_rules(size_t num_symbols, size_t num_productions, Rhs&& rhs, Name&& name,
                                                  IsRule&& is_rule, Vanishes&& vanishes) {
  std::vector<uint8_t> nullable(num_symbols, 0);
  std::vector<uint32_t> pending(num_productions, 0);
  std::vector<std::vector<uint32_t>> occurs(num_symbols);  // rule name -> productions it stands in
  std::vector<uint32_t> work;
  auto mark = [&](uint32_t s) {
    if (!nullable[s]) {
      nullable[s] = 1;
      work.push_back(s);
    }
  };
  for (uint32_t p = 1; p < num_productions; ++p) {
    bool blocked = false;
    for (uint32_t s : rhs(p)) {
      if (is_rule(s)) {
        ++pending[p];
      } else if (!vanishes(s)) {
        blocked = true;
      }
    }
    if (blocked) continue;
    for (uint32_t s : rhs(p))
      if (is_rule(s)) occurs[s].push_back(p);
    if (pending[p] == 0) mark(name(p));
  }
  while (!work.empty()) {
    const uint32_t s = work.back();
    work.pop_back();
    for (uint32_t p : occurs[s])
      if (--pending[p] == 0) mark(name(p));
  }
  return nullable;
}

}  // namespace vx
