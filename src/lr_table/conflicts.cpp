#include "lr_table/conflicts.hpp"

#include <string>

#include "common/internal_failure.hpp"
#include "common/text.hpp"

namespace vx {

SrChoice choose_shift_reduce(int32_t token_level, const PrecPair& production) noexcept {
  if (token_level < production.level) return SrChoice::Reduce;
  if (token_level > production.level) return SrChoice::Shift;
  if (production.assoc == "nonassoc") return SrChoice::Error;
  if (production.assoc == "left") return SrChoice::Reduce;
  return SrChoice::Shift;
}

namespace {

const Production& production_at(const Grammar& g, int64_t number) {
  if (number < 0 || static_cast<uint64_t>(number) >= g.num_productions()) {
    internal_failure("conflict resolution: reduction by a production that does not exist");
  }
  return g.production(static_cast<size_t>(number));
}

LrItem completed_item(const Grammar& g, uint32_t p) {
  return {p, static_cast<uint32_t>(g.production(p).syms.size())};
}

void settle_shift_reduce(uint64_t state, SymbolId token, ActionEntry& entry, LrItem& origin, int32_t shift,
                         LrItem shift_item, uint32_t p, LrItem reduce_item, const Grammar& g, ConflictLog& log) {
  const Production& prod = production_at(g, p);
  const PrecPair* declared = g.precedence_of(token);
  const int32_t tlevel = declared ? declared->level : 0;
  const std::string quoted = quote_name(g.name(token));
  std::string resolution;
  std::string reason;
  switch (choose_shift_reduce(tlevel, prod.prec)) {
    case SrChoice::Reduce:
      entry = -static_cast<int32_t>(p);
      origin = reduce_item;
      resolution = "reduce";
      reason = "Precedence of production " + g.production_text(p) + " (level " + std::to_string(prod.prec.level) +
               ", " + prod.prec.assoc + ") >= token " + quoted + " (level " + std::to_string(tlevel) + ")";
      break;
    case SrChoice::Shift:
      entry = shift;
      origin = shift_item;
      resolution = "shift";
      reason = "Precedence of token " + quoted + " (level " + std::to_string(tlevel) + ") > production " +
               g.production_text(p) + " (level " + std::to_string(prod.prec.level) + ")";
      break;
    case SrChoice::Error:
      entry = std::nullopt;
      resolution = "error (nonassoc)";
      reason = "Token " + quoted + " and rule " + g.production_text(p) + " are nonassociative";
      break;
  }
  log.sr.push_back({state, g.name(token), resolution});
  log.records.push_back({"shift/reduce", state, g.name(token), std::move(resolution), std::move(reason),
                         {shift_item, reduce_item}});
}

}  // namespace

void resolve_conflict(uint64_t state, SymbolId token, ActionEntry& entry, LrItem& origin, int32_t incoming,
                      LrItem item, const Grammar& g, ConflictLog& log) {
  if (!entry) return;  // an explicit error entry stays
  const int32_t existing = *entry;
  if (existing == 0 || incoming == 0) return;   // accept is never contested
  if (existing > 0 && incoming > 0) return;     // two shifts: one target
  if (existing > 0) {
    settle_shift_reduce(state, token, entry, origin, existing, origin, static_cast<uint32_t>(-int64_t{incoming}),
                        item, g, log);
    return;
  }
  if (incoming > 0) {
    settle_shift_reduce(state, token, entry, origin, incoming, item, static_cast<uint32_t>(-int64_t{existing}),
                        origin, g, log);
    return;
  }
  // Reduce/reduce: the earlier line wins; a tie keeps the existing entry.
  const auto a = static_cast<uint32_t>(-int64_t{existing});
  const auto b = static_cast<uint32_t>(-int64_t{incoming});
  const uint32_t chosen = production_at(g, a).line <= production_at(g, b).line ? a : b;
  const uint32_t rejected = chosen == a ? b : a;
  entry = -static_cast<int32_t>(chosen);
  origin = completed_item(g, chosen);
  log.rr.push_back({state, chosen, rejected});
  log.records.push_back({"reduce/reduce", state, g.name(token), "reduce using rule " + std::to_string(chosen),
                         "Rule (" + g.production_text(chosen) + ") was defined earlier than (" +
                             g.production_text(rejected) + ")",
                         {completed_item(g, a), completed_item(g, b)}});
}

}  // namespace vx
