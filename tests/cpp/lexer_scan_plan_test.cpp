// Scan plans: merging the rules of INITIAL, grouping runs of native rules,
// the Group step's search in code-point terms, and when a rule matched
// through Python may be skipped.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lexer/scan_plan.hpp"

namespace vx {
namespace {

struct TestRule : RuleCore {
  std::string name;
};
using RulePtr = std::shared_ptr<const TestRule>;

// "name:priority[:py|:ascii]" -> a rule; native rules match their own name.
RulePtr rule(const std::string& spec, const std::string& pattern = "") {
  auto r = std::make_shared<TestRule>();
  std::istringstream in(spec);
  std::string part;
  std::getline(in, r->name, ':');
  std::getline(in, part, ':');
  r->priority = std::stoi(part);
  std::string flag;
  std::getline(in, flag, ':');
  r->native_source = pattern.empty() ? r->name : pattern;
  if (flag != "py") r->native = NativeRegex::compile(r->native_source);
  r->ascii_only = flag == "ascii";
  return r;
}

std::vector<RulePtr> rules(const std::vector<std::string>& specs) {
  std::vector<RulePtr> out;
  for (const auto& s : specs) out.push_back(rule(s));
  return out;
}

std::string names(const std::vector<RulePtr>& list) {
  std::string out;
  for (const auto& r : list) out += (out.empty() ? "" : " ") + r->name;
  return out;
}

// "G{a,b} S{c}": the plan's steps in order.
std::string layout(const ScanPlan<RulePtr>& plan) {
  std::string out;
  for (const auto& step : plan.steps) {
    if (!out.empty()) out += ' ';
    out += step.kind == ScanStep<RulePtr>::Kind::Group ? "G{" : "S{";
    for (size_t k = 0; k < step.rules.size(); ++k) out += (k ? "," : "") + step.rules[k]->name;
    out += '}';
    if (step.kind == ScanStep<RulePtr>::Kind::Group) {
      EXPECT_EQ(step.group->size(), step.rules.size());
      for (size_t k = 0; k < step.rules.size(); ++k) EXPECT_EQ(step.group->members()[k], step.rules[k]->native);
    } else {
      EXPECT_EQ(step.group, nullptr);
    }
  }
  return out;
}

TEST(ScanPlan, MergeKeepsPriorityOrderWithInitialFirstOnTies) {
  auto initial = rules({"i5:5", "i0a:0", "i0b:0", "im:-1"});
  auto own = rules({"x7:7", "x5:5", "x0:0", "xm:-3"});
  EXPECT_EQ(names(merge_rule_lists<RulePtr>(initial, own)), "x7 i5 x5 i0a i0b x0 im xm");
  EXPECT_EQ(names(merge_rule_lists<RulePtr>({}, own)), "x7 x5 x0 xm");
  EXPECT_EQ(names(merge_rule_lists<RulePtr>(initial, {})), "i5 i0a i0b im");
}

TEST(ScanPlan, OnlyInclusiveStatesOtherThanInitialMerge) {
  EXPECT_TRUE(merges_initial_rules("X", "inclusive", true));
  EXPECT_FALSE(merges_initial_rules("X", "exclusive", true));
  EXPECT_FALSE(merges_initial_rules("INITIAL", "inclusive", true));
  EXPECT_FALSE(merges_initial_rules("X", "inclusive", false));
  EXPECT_FALSE(merges_initial_rules("X", "Inclusive", true));
}

struct PlanCase {
  std::vector<std::string> rules;
  bool ascii_input;
  const char* steps;
};

TEST(ScanPlan, GroupsRunsOfNativeRulesOfEqualPriority) {
  const PlanCase cases[] = {
      {{"a:5", "b:5", "c:0", "d:0"}, true, "G{a,b} G{c,d}"},
      {{"a:0", "b:0:py", "c:0"}, true, "G{a} S{b} G{c}"},
      {{"a:3", "b:2", "c:1"}, true, "G{a} G{b} G{c}"},
      {{"a:0:ascii", "b:0"}, false, "S{a} G{b}"},
      {{"a:0", "b:0:ascii", "c:0"}, false, "G{a} S{b} G{c}"},
      {{"a:0", "b:0:ascii", "c:0"}, true, "G{a,b,c}"},
      {{"a:0:py", "b:0:py"}, true, "S{a} S{b}"},
      {{"a:0", "b:0", "c:0:py", "d:0", "e:0", "f:-1"}, false, "G{a,b} S{c} G{d,e} G{f}"},
      {{}, true, ""},
  };
  for (const auto& c : cases) {
    auto list = rules(c.rules);
    EXPECT_EQ(layout(build_scan_plan<RulePtr>(list, c.ascii_input)), c.steps)
        << (c.rules.empty() ? "" : c.rules[0]) << " ascii=" << c.ascii_input;
  }
}

TEST(ScanPlan, RunWhoseSetFailsBecomesOneGroupPerRule) {
  std::vector<RulePtr> list = {rule("q:0", "\\Qab"), rule("x:0", "x"), rule("y:0", "y")};
  auto plan = build_scan_plan<RulePtr>(list, true);
  EXPECT_EQ(layout(plan), "G{q} G{x} G{y}");
  InputText in = InputText::from_utf8("ab");
  auto m = match_group_step(*plan.steps[0].group, in, 0, 0);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->end_pos, 2u);
}

TEST(ScanPlan, GroupStepReportsEndsInCodePoints) {
  std::vector<RulePtr> list = {rule("word:0", "\\w+"), rule("other:0", "[^\\w\\s]+")};
  auto plan = build_scan_plan<RulePtr>(list, false);
  ASSERT_EQ(layout(plan), "G{word,other}");
  const auto& group = *plan.steps[0].group;
  // "ab" then "é€" (2 + 3 bytes) then " x"
  InputText in = InputText::from_utf8("ab\xC3\xA9\xE2\x82\xAC x");
  auto first = match_group_step(group, in, 0, in.byte_offset(0));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->rule, 0u);
  EXPECT_EQ(first->end_pos, 2u);
  auto second = match_group_step(group, in, 2, in.byte_offset(2));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->rule, 1u);
  EXPECT_EQ(second->end_pos, 4u);
  EXPECT_EQ(second->end_byte, 7u);
  EXPECT_FALSE(match_group_step(group, in, 4, in.byte_offset(4)));
}

struct SkipCase {
  const char* prefix;
  const char* pretest;  // "" for none
  bool pretest_ascii_only;
  const char* text;
  size_t byte_pos;
  bool may_match;
};

TEST(ScanPlan, PythonRuleIsSkippedOnlyWhereItsPrefixOrLooserPatternFails) {
  // The looser patterns of a string rule whose look-ahead '(?!'') was
  // dropped, and of a keyword whose Unicode-aware \b was dropped.
  const char* string_rule = R"([BFRUbfru]{0,2}(?:'''(?:[^'\\]|\\(?s:.)|')*'''|'(?:[^\n'\\]|\\(?s:.))*'))";
  const SkipCase cases[] = {
      {"", "", false, "anything", 0, true},                   // nothing to go by: always called
      {"if", "", false, "if x", 0, true},
      {"if", "", false, "in x", 0, false},                    // the prefix alone
      {"if", "", false, "i", 0, false},                       // fewer bytes than the prefix
      {"", string_rule, false, "x = 'a'", 0, false},          // the first byte rules it out
      {"", string_rule, false, "x = 'a'", 4, true},
      {"", string_rule, false, "rb'a'", 0, true},
      {"", string_rule, false, "rbx", 0, false},              // may begin there, but does not match
      {"", string_rule, false, "'unclosed", 0, false},
      {"", string_rule, false, "caf\xC3\xA9 'a'", 6, true},   // non-ASCII input
      {"", "if", true, "if\xC3\xA9", 0, true},                // an ASCII-only pretest is not used here
      {"", "if", true, "ix", 0, false},
      {"", "a*", false, "b", 0, true},                        // matches empty anywhere
  };
  for (const auto& c : cases) {
    RuleCore rule;
    rule.prefix = c.prefix;
    if (*c.pretest) {
      rule.pretest = NativeRegex::compile(c.pretest);
      ASSERT_TRUE(rule.pretest) << c.pretest;
    }
    rule.pretest_ascii_only = c.pretest_ascii_only;
    InputText in = InputText::from_utf8(c.text);
    EXPECT_EQ(python_rule_may_match(rule, in, c.byte_pos), c.may_match)
        << c.text << " at " << c.byte_pos << " with " << c.pretest;
  }
}

}  // namespace
}  // namespace vx
