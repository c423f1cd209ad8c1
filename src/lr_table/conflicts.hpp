// Settling contested action entries.
//
// A shift/reduce conflict is decided by precedence: the token's level against
// the production's level and associativity. A reduce/reduce conflict is
// decided by the productions' line numbers, the earlier line winning and the
// existing entry winning a tie. Each settled conflict is appended to the
// log at the moment it is settled, so the log follows the filling order.
#pragma once

#include <cstdint>

#include "grammar/grammar.hpp"
#include "lr_table/lr_table.hpp"

namespace vx {

enum class SrChoice : uint8_t { Shift, Reduce, Error /* nonassoc: explicit error entry */ };

// Higher token level shifts, higher production level reduces; on a tie the
// production's associativity decides: "left" reduces, "nonassoc" gives the
// error entry, anything else ("right" or any other text) shifts.
[[nodiscard]] SrChoice choose_shift_reduce(int32_t token_level, const PrecPair& production) noexcept;

// Settles the arrival of `incoming` (a shift target j > 0 or a reduction -p)
// for `token`, whose current entry and origin item are `entry` and `origin`
// (both updated in place). `item` produced the incoming action: the item
// with the dot before the token for a shift, the completed item for a
// reduction. Pairs that are no conflict (an existing explicit error or accept
// entry, two shifts, an incoming accept) change nothing and are not logged.
void resolve_conflict(uint64_t state, SymbolId token, ActionEntry& entry, LrItem& origin, int32_t incoming,
                      LrItem item, const Grammar& grammar, ConflictLog& log);

}  // namespace vx
