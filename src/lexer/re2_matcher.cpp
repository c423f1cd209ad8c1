#include "lexer/re2_matcher.hpp"

#include <re2/re2.h>

#include <cstring>

#include "common/panic.hpp"

namespace vx {
namespace {

// re2::StringPiece is RE2's own class up to the 2022 releases and an alias of
// absl::string_view after them; both are built from a pointer and a length.
using Re2Text = re2::StringPiece;

Re2Text re2_text(std::string_view s) noexcept { return Re2Text(s.data(), s.size()); }

RE2::Options quiet_options() {
  RE2::Options options;
  options.set_log_errors(false);
  return options;
}

std::unique_ptr<RE2> compile_quiet(std::string_view pattern) {
  auto re = std::make_unique<RE2>(re2_text(pattern), quiet_options());
  if (!re->ok()) return nullptr;
  return re;
}

}  // namespace

NativeRegex::NativeRegex(std::string pattern, std::unique_ptr<RE2> re)
    : pattern_(std::move(pattern)), re_(std::move(re)), captures_(re_->NumberOfCapturingGroups()) {
  start_ = analyze_pattern_start(pattern_);
}

NativeRegex::~NativeRegex() = default;

std::shared_ptr<const NativeRegex> NativeRegex::compile(std::string_view pattern) {
  auto re = compile_quiet(pattern);
  if (!re) return nullptr;
  return std::shared_ptr<const NativeRegex>(new NativeRegex(std::string(pattern), std::move(re)));
}

std::optional<size_t> NativeRegex::match_end(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return std::nullopt;
  Re2Text m;
  if (!re_->Match(re2_text(text), byte_pos, text.size(), RE2::ANCHOR_START, &m, 1)) return std::nullopt;
  return static_cast<size_t>(m.data() - text.data()) + m.size();
}

bool NativeRegex::matches_at(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return false;
  return re_->Match(re2_text(text), byte_pos, text.size(), RE2::ANCHOR_START, nullptr, 0);
}

NativeGroup::~NativeGroup() = default;

std::shared_ptr<const NativeGroup> NativeGroup::compile(std::vector<std::shared_ptr<const NativeRegex>> members) {
  if (members.size() < 2) panic("native group: an alternation needs two or more members");
  std::string text;
  int expected_groups = 0;
  for (const auto& m : members) {
    if (!text.empty()) text += '|';
    text += '(';
    text += m->pattern();
    text += ')';
    expected_groups += 1 + m->capture_count();
  }
  auto re = compile_quiet(text);
  // A member that reads differently inside the wrapper (an unterminated \Q,
  // say) shows in the group count; such an alternation is not used.
  if (!re || re->NumberOfCapturingGroups() != expected_groups) return nullptr;
  std::shared_ptr<NativeGroup> g(new NativeGroup());
  int index = 1;
  for (const auto& m : members) {
    g->wrapper_group_.push_back(index);
    index += 1 + m->capture_count();
  }
  g->members_ = std::move(members);
  g->alternation_ = std::move(re);
  g->build_candidates();
  return g;
}

std::shared_ptr<const NativeGroup> NativeGroup::single(std::shared_ptr<const NativeRegex> member) {
  if (!member) panic("native group: missing member");
  std::shared_ptr<NativeGroup> g(new NativeGroup());
  g->members_.push_back(std::move(member));
  g->build_candidates();
  return g;
}

void NativeGroup::build_candidates() {
  candidate_start_.assign(258, 0);
  candidates_.clear();
  for (unsigned b = 0; b <= 256; ++b) {
    candidate_start_[b] = static_cast<uint32_t>(candidates_.size());
    for (uint32_t k = 0; k < members_.size(); ++k) {
      const PatternStart& st = members_[k]->start();
      if (b == 256 ? st.nullable : st.may_start_with(static_cast<unsigned char>(b))) candidates_.push_back(k);
    }
  }
  candidate_start_[257] = static_cast<uint32_t>(candidates_.size());
}

// Why match() finds the same winner and span as the capture search:
//
// 1. Anchored at s with nothing after it, the leftmost-first alternation
//    (p1)|...|(pn) prefers every path through p_i to every path through p_j
//    for i < j. So it matches iff some member matches at s, the member it
//    reports is the first member W that matches at s, and its span is the
//    one W alone prefers: [s, e), with e the end of the overall match.
// 2. The candidates for the byte at s are all members whose pattern may
//    begin with that byte or match empty (a superset, see PatternStart), in
//    member order; W is one of them. A member that is not a candidate does
//    not match at s.
// 3. W's match text[s, e) begins with W's literal prefix, so a member whose
//    prefix is not a prefix of text[s, e) is not W (it may still match at s
//    only if it comes after W, where it does not matter).
// 4. Every member before W does not match at s, so testing the remaining
//    candidates in order, the first that matches at s is W. When all
//    remaining candidates but the last have failed, the last is W without
//    a test, since the alternation did match.
std::optional<GroupMatch> NativeGroup::match(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return std::nullopt;
  const unsigned slot = byte_pos < text.size() ? static_cast<unsigned char>(text[byte_pos]) : 256;
  const uint32_t* first = candidates_.data() + candidate_start_[slot];
  const uint32_t* last = candidates_.data() + candidate_start_[slot + 1];
  if (first == last) return std::nullopt;  // no member can match here
  if (!alternation_) {
    auto end = members_[0]->match_end(text, byte_pos);
    if (!end) return std::nullopt;
    return GroupMatch{0, *end};
  }
  Re2Text m;
  if (!alternation_->Match(re2_text(text), byte_pos, text.size(), RE2::ANCHOR_START, &m, 1)) return std::nullopt;
  const size_t end = static_cast<size_t>(m.data() - text.data()) + m.size();
  const std::string_view matched = text.substr(byte_pos, end - byte_pos);
  auto fits = [&](uint32_t k) {
    const std::string& p = members_[k]->start().prefix;
    return p.size() <= matched.size() && std::memcmp(matched.data(), p.data(), p.size()) == 0;
  };
  while (first != last && !fits(last[-1])) --last;
  if (first != last) {
    for (const uint32_t* c = first; c + 1 != last; ++c)
      if (fits(*c) && members_[*c]->matches_at(text, byte_pos)) return GroupMatch{*c, end};
    return GroupMatch{last[-1], end};
  }
  // Unreachable while the reading of pattern starts is sound; the capture
  // search still gives the right answer.
  return match_by_captures(text, byte_pos);
}

std::optional<GroupMatch> NativeGroup::match_by_captures(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return std::nullopt;
  if (!alternation_) {
    auto end = members_[0]->match_end(text, byte_pos);
    if (!end) return std::nullopt;
    return GroupMatch{0, *end};
  }
  const int n = 1 + alternation_->NumberOfCapturingGroups();
  std::vector<Re2Text> sub(static_cast<size_t>(n));
  if (!alternation_->Match(re2_text(text), byte_pos, text.size(), RE2::ANCHOR_START, sub.data(), n))
    return std::nullopt;
  const size_t end = static_cast<size_t>(sub[0].data() - text.data()) + sub[0].size();
  for (uint32_t k = 0; k < members_.size(); ++k)
    if (sub[static_cast<size_t>(wrapper_group_[k])].data() != nullptr) return GroupMatch{k, end};
  panic("native group: a match without a winning member");
}

std::optional<GroupMatch> NativeGroup::match_one_by_one(std::string_view text, size_t byte_pos) const {
  for (uint32_t k = 0; k < members_.size(); ++k)
    if (auto end = members_[k]->match_end(text, byte_pos)) return GroupMatch{k, *end};
  return std::nullopt;
}

}  // namespace vx
