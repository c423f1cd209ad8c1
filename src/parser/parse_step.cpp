#include "parser/parse_step.hpp"

#include <algorithm>
#include <limits>

#include "common/text.hpp"

namespace vx::parse {
namespace {

constexpr int32_t kMinEntry = std::numeric_limits<int32_t>::min();

Failure fault(std::string message) { return runtime_error(std::move(message)); }

}  // namespace

Action action_of(int32_t v) noexcept {
  if (v > 0) return {Action::Kind::Shift, v, static_cast<uint64_t>(v)};
  if (v < 0) {
    // -v of the minimum value does not fit in 32 bits; the reduce check refuses it.
    return {Action::Kind::Reduce, v, static_cast<uint64_t>(-static_cast<int64_t>(v))};
  }
  return {Action::Kind::Accept, 0, 0};
}

OwnLookup own_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> id) noexcept {
  if (!id) return {false, Action::none()};
  std::optional<ActionEntry> cell = t.action_entry(state, *id);
  if (!cell) return {false, Action::none()};
  if (!*cell) return {true, Action::none()};
  return {true, action_of(**cell)};
}

Action fallback_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> fallback_id) noexcept {
  if (!fallback_id) return Action::none();
  std::optional<ActionEntry> cell = t.action_entry(state, *fallback_id);
  if (!cell || !*cell) return Action::none();
  return action_of(**cell);
}

Action error_action(const ParserTables& t, uint64_t state, std::optional<uint32_t> error_id,
                    std::span<const uint64_t> prod_lens, size_t depth) noexcept {
  if (!error_id) return Action::none();
  std::optional<ActionEntry> cell = t.action_entry(state, *error_id);
  if (!cell || !*cell || **cell == 0) return Action::none();
  const int32_t v = **cell;
  if (v > 0) return action_of(v);
  if (v == kMinEntry) return Action::none();
  const uint64_t p = static_cast<uint64_t>(-static_cast<int64_t>(v));
  if (p >= prod_lens.size() || prod_lens[p] >= depth) return Action::none();
  return action_of(v);
}

Status check_shift(const ParserTables& t, const Action& shift, uint64_t state) {
  if (shift.target >= t.num_states()) {
    return fault("Invalid shift state " + std::to_string(shift.target) + " from state " + std::to_string(state));
  }
  return ok_status();
}

Outcome<uint64_t> check_reduce(const Action& reduce, uint64_t state, const ProductionLists& lists, size_t depth) {
  auto invalid = [&] {
    return fault("Invalid reduction " + std::to_string(reduce.entry) + " in state " + std::to_string(state));
  };
  if (reduce.entry == kMinEntry) return invalid();
  const uint64_t p = reduce.target;
  if (p >= std::min({lists.names, lists.custom, lists.lens.size()})) return invalid();
  const uint64_t n = lists.lens[p];
  if (n >= depth) return invalid();
  return n;
}

Outcome<uint64_t> goto_state(const ParserTables& t, uint64_t state, std::optional<uint32_t> lhs_id,
                             std::string_view lhs_name) {
  std::optional<uint64_t> target = lhs_id ? t.goto_target(state, *lhs_id) : std::nullopt;
  if (!target) {
    return fault("No GOTO entry for nonterminal " + quote_name(lhs_name) + " from state " + std::to_string(state));
  }
  if (*target >= t.num_states()) {
    return fault("Invalid GOTO state " + std::to_string(*target) + " from state " + std::to_string(state));
  }
  return *target;
}

std::optional<Style> style_named(std::string_view name) noexcept {
  if (name == "core") return Style::Core;
  if (name == "vex") return Style::Vex;
  if (name == "mox") return Style::Mox;
  return std::nullopt;
}

AfterCallback after_callback(Style style, const CallbackReport& r) noexcept {
  switch (style) {
    case Style::Core:
      if (r.errok || r.restart) return AfterCallback::Resume;
      if (r.has_result) return AfterCallback::ReturnResult;
      return AfterCallback::Panic;
    case Style::Vex:
      if (r.errok) return AfterCallback::Resume;
      if (r.at_end) return AfterCallback::ReturnNone;
      if (r.restart) return AfterCallback::Discard;
      return AfterCallback::Panic;
    case Style::Mox:
      if (r.has_result) return AfterCallback::Resume;
      if (r.at_end) return AfterCallback::ReturnNone;
      if (r.restart) return AfterCallback::Discard;
      return AfterCallback::Panic;
  }
  return AfterCallback::Panic;
}

PanicStep panic_step(bool top_is_error, bool at_end) noexcept {
  if (!top_is_error) return PanicStep::InsertError;
  return at_end ? PanicStep::EndOfInput : PanicStep::DiscardToken;
}

}  // namespace vx::parse
