#include "parser/parse_step.hpp"

#include "common/text.hpp"

namespace vx::parse {
namespace {

constexpr int32_t kMinEntry = std::numeric_limits<int32_t>::min();

Failure fault(std::string message) { return runtime_error(std::move(message)); }

}  // namespace

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

Failure invalid_shift(const Action& shift, uint64_t state) {
  return fault("Invalid shift state " + std::to_string(shift.target) + " from state " + std::to_string(state));
}

Failure invalid_reduction(const Action& reduce, uint64_t state) {
  return fault("Invalid reduction " + std::to_string(reduce.entry) + " in state " + std::to_string(state));
}

Failure missing_goto(uint64_t state, std::string_view lhs_name) {
  return fault("No GOTO entry for nonterminal " + quote_name(lhs_name) + " from state " + std::to_string(state));
}

Failure invalid_goto(uint64_t state, uint64_t target) {
  return fault("Invalid GOTO state " + std::to_string(target) + " from state " + std::to_string(state));
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

PanicStep panic_step(bool top_is_error, bool at_end, bool stuck) noexcept {
  if (top_is_error) return at_end ? PanicStep::EndOfInput : PanicStep::DiscardToken;
  if (!stuck) return PanicStep::InsertError;
  return at_end ? PanicStep::EndOfInput : PanicStep::SkipAndInsert;
}

}  // namespace vx::parse
