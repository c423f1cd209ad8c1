// Scan plans: the fixed order in which one lexer state tries its rules on
// one kind of input (pure ASCII or not).
//
// A plan is a list of steps. A Single step is one rule matched by its
// Python pattern; a Group step is a run of native rules of equal priority
// searched together as one NativeGroup (a group of one rule uses that
// rule's own expression). Whatever the grouping, the first rule in rule
// order that matches at the scan position wins, as when every rule is tried
// on its own.
//
// The pure part of a rule is RuleCore; the engine's rule record adds its
// Python references to it. The plan functions are templates over the
// handle the engine keeps its rules by (`RulePtr`, e.g. a shared pointer to
// a record derived from RuleCore): a plan holds its own handles, so it stays
// valid when the state's rule list grows or the plan leaves its cache.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lexer/input_text.hpp"
#include "lexer/re2_matcher.hpp"

namespace vx {

// What a plan needs to know of a rule. Built once when the rule is added.
struct RuleCore {
  std::string native_source;  // the translator's text, empty when it gave none
  std::string prefix;         // every match of the rule starts with it
  int32_t priority = 0;
  bool ascii_only = false;    // the native pattern may serve pure-ASCII input only
  std::shared_ptr<const NativeRegex> native;  // null: the rule matches through Python
  // For input the rule matches through Python: a looser native pattern that
  // matches wherever the rule matches (null when there is none), valid on
  // pure-ASCII input only when `pretest_ascii_only` is set. Only a rule
  // whose Python matcher is a compiled re pattern of str has one.
  std::shared_ptr<const NativeRegex> pretest;
  bool pretest_ascii_only = false;

  [[nodiscard]] bool is_native() const noexcept { return native != nullptr; }
};

// Whether a rule matched through Python may match at byte offset `byte_pos`
// of a UTF-8 input (text_is_utf8() holds): false only when the text there
// does not begin with the rule's literal prefix, or when its looser pattern
// does not match there. Only then may the call of its `match` be skipped.
[[nodiscard]] inline bool python_rule_may_match(const RuleCore& rule, const InputText& input, size_t byte_pos) {
  const std::string& text = input.utf8();
  if (!prefix_fits(text, byte_pos, rule.prefix)) return false;
  if (!rule.pretest || (rule.pretest_ascii_only && !input.is_ascii())) return true;
  if (byte_pos < text.size() && !rule.pretest->start().may_start_with(static_cast<unsigned char>(text[byte_pos])))
    return false;
  return rule.pretest->matches_at(text, byte_pos);
}

// Whether a state's plan merges the rules of "INITIAL" into its own: only an
// inclusive state other than "INITIAL", and only when "INITIAL" is defined.
[[nodiscard]] inline bool merges_initial_rules(std::string_view state, std::string_view kind, bool initial_defined) noexcept {
  return kind == "inclusive" && state != "INITIAL" && initial_defined;
}

template <class RulePtr>
struct ScanStep {
  enum class Kind : uint8_t { Single, Group };
  Kind kind = Kind::Single;
  std::vector<RulePtr> rules;                // Single: exactly one; Group: one or more, in rule order
  std::shared_ptr<const NativeGroup> group;  // Group only; member k is rules[k]
};

template <class RulePtr>
struct ScanPlan {
  std::vector<ScanStep<RulePtr>> steps;
};

namespace detail {
template <class RulePtr>
const RuleCore& core_of(const RulePtr& r) {
  return *r;
}
}  // namespace detail

// Merges the rules of "INITIAL" (`initial`) with a state's own (`own`), both
// in descending priority and insertion order among equals: the result is in
// descending priority, with every rule of "INITIAL" before every own rule of
// the same priority, each source keeping its order.
template <class RulePtr>
[[nodiscard]] std::vector<RulePtr> merge_rule_lists(std::span<const RulePtr> initial, std::span<const RulePtr> own) {
  std::vector<RulePtr> out;
  out.reserve(initial.size() + own.size());
  size_t i = 0;
  size_t j = 0;
  while (i < initial.size()) {
    if (j == own.size() || detail::core_of(initial[i]).priority >= detail::core_of(own[j]).priority)
      out.push_back(initial[i++]);
    else
      out.push_back(own[j++]);
  }
  while (j < own.size()) out.push_back(own[j++]);
  return out;
}

// Builds the steps for a merged rule list on input whose ASCII flag is
// `ascii_input`. Runs of two or more consecutive native rules of equal
// priority become one Group (ASCII-only rules stay out of runs on other
// input and are then matched through Python); a run whose set RE2 refuses
// becomes one Group per rule.
template <class RulePtr>
[[nodiscard]] ScanPlan<RulePtr> build_scan_plan(std::span<const RulePtr> rules, bool ascii_input) {
  using Step = ScanStep<RulePtr>;
  auto groupable = [&](const RuleCore& c) { return c.is_native() && (ascii_input || !c.ascii_only); };
  ScanPlan<RulePtr> plan;
  size_t i = 0;
  while (i < rules.size()) {
    const RuleCore& head = detail::core_of(rules[i]);
    if (!groupable(head)) {
      plan.steps.push_back(Step{Step::Kind::Single, {rules[i]}, nullptr});
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < rules.size()) {
      const RuleCore& c = detail::core_of(rules[j]);
      if (c.priority != head.priority || !groupable(c)) break;
      ++j;
    }
    std::shared_ptr<const NativeGroup> joint;
    if (j - i >= 2) {
      std::vector<std::shared_ptr<const NativeRegex>> members;
      members.reserve(j - i);
      for (size_t k = i; k < j; ++k) members.push_back(detail::core_of(rules[k]).native);
      joint = NativeGroup::compile(std::move(members));
    }
    if (joint) {
      plan.steps.push_back(Step{Step::Kind::Group, {rules.begin() + static_cast<std::ptrdiff_t>(i),
                                                    rules.begin() + static_cast<std::ptrdiff_t>(j)},
                                std::move(joint)});
    } else {
      for (size_t k = i; k < j; ++k)
        plan.steps.push_back(Step{Step::Kind::Group, {rules[k]}, NativeGroup::single(detail::core_of(rules[k]).native)});
    }
    i = j;
  }
  return plan;
}

// A match of a Group step at a scan position, in the terms of the token
// loop: the winning rule's index in the step, and the end of the match as a
// code-point position and as a byte offset.
struct StepMatch {
  uint32_t rule;
  uint64_t end_pos;
  size_t end_byte;
};

// Searches a Group step's expression at position `pos` (byte offset
// `byte_pos`) of a UTF-8 input (text_is_utf8() holds).
[[nodiscard]] inline std::optional<StepMatch> match_group_step(const NativeGroup& group, const InputText& input,
                                                              uint64_t pos, size_t byte_pos) {
  auto m = group.match(input.utf8(), byte_pos);
  if (!m) return std::nullopt;
  return StepMatch{m->member, input.position_after(pos, m->end - byte_pos), m->end};
}

}  // namespace vx
