#include "lexer/re2_matcher.hpp"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <map>

#include "common/internal_failure.hpp"
#include "lexer/input_text.hpp"

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
    : pattern_(std::move(pattern)), re_(std::move(re)) {
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

struct NativeGroup::Sets {
  std::unique_ptr<RE2::Set> at_start;
  std::unique_ptr<RE2::Set> after_char;  // null when no member looks behind
};

NativeGroup::NativeGroup() = default;
NativeGroup::~NativeGroup() = default;

namespace {

// Sets hold every member's program and a DFA over all of them; they get more
// room than RE2's default, so that a few hundred rules fit.
constexpr int64_t kSetMemory = int64_t{64} << 20;

std::unique_ptr<RE2::Set> compile_set(const std::vector<std::shared_ptr<const NativeRegex>>& members,
                                      std::string_view before) {
  RE2::Options options = quiet_options();
  options.set_max_mem(kSetMemory);
  auto set = std::make_unique<RE2::Set>(options, RE2::ANCHOR_START);
  for (const auto& m : members) {
    std::string pattern = before.empty() ? m->pattern() : std::string(before) + "(?:" + m->pattern() + ")";
    if (set->Add(re2_text(pattern), nullptr) < 0) return nullptr;
  }
  if (!set->Compile()) return nullptr;
  return set;
}

}  // namespace

std::shared_ptr<const NativeGroup> NativeGroup::compile(std::vector<std::shared_ptr<const NativeRegex>> members) {
  if (members.size() < 2) internal_failure("native group: a set needs two or more members");
  auto sets = std::make_unique<Sets>();
  sets->at_start = compile_set(members, "");
  if (!sets->at_start) return nullptr;
  bool looks_behind = false;
  for (const auto& m : members) looks_behind = looks_behind || m->start().looks_behind;
  if (looks_behind) {
    // A member that reads differently behind the wrapper (an unterminated
    // \Q, say) fails to parse there, and the group is not made.
    sets->after_char = compile_set(members, "(?s:.)");
    if (!sets->after_char) return nullptr;
  }
  std::shared_ptr<NativeGroup> g(new NativeGroup());
  g->members_ = std::move(members);
  g->sets_ = std::move(sets);
  g->build_candidates();
  return g;
}

std::shared_ptr<const NativeGroup> NativeGroup::single(std::shared_ptr<const NativeRegex> member) {
  if (!member) internal_failure("native group: missing member");
  std::shared_ptr<NativeGroup> g(new NativeGroup());
  g->members_.push_back(std::move(member));
  g->build_candidates();
  return g;
}

void NativeGroup::build_candidates() {
  open_start_.assign(258, 0);
  open_.clear();
  for (unsigned b = 0; b <= 256; ++b) {
    open_start_[b] = static_cast<uint32_t>(open_.size());
    for (uint32_t k = 0; k < members_.size(); ++k) {
      const PatternStart& st = members_[k]->start();
      if (!st.prefix.empty()) continue;  // in the trie
      if (b == 256 ? st.nullable : st.may_start_with(static_cast<unsigned char>(b))) open_.push_back(k);
    }
  }
  open_start_[257] = static_cast<uint32_t>(open_.size());

  // The trie, built with ordered child maps, then laid out flat with the
  // same node numbers.
  struct Building {
    std::map<unsigned char, uint32_t> next;
    std::vector<uint32_t> ends;
  };
  std::vector<Building> nodes(1);
  for (uint32_t k = 0; k < members_.size(); ++k) {
    uint32_t n = 0;
    for (const char ch : members_[k]->start().prefix) {
      const auto c = static_cast<unsigned char>(ch);
      auto it = nodes[n].next.find(c);
      if (it != nodes[n].next.end()) {
        n = it->second;
        continue;
      }
      const auto fresh = static_cast<uint32_t>(nodes.size());
      nodes.emplace_back();
      nodes[n].next.emplace(c, fresh);
      n = fresh;
    }
    if (n != 0) nodes[n].ends.push_back(k);
  }
  trie_.assign(nodes.size(), TrieNode{});
  edge_byte_.clear();
  edge_target_.clear();
  ends_.clear();
  for (size_t i = 0; i < nodes.size(); ++i) {
    TrieNode& t = trie_[i];
    t.edge_begin = static_cast<uint32_t>(edge_byte_.size());
    for (const auto& [c, target] : nodes[i].next) {
      edge_byte_.push_back(c);
      edge_target_.push_back(target);
    }
    t.edge_end = static_cast<uint32_t>(edge_byte_.size());
    t.end_begin = static_cast<uint32_t>(ends_.size());
    ends_.insert(ends_.end(), nodes[i].ends.begin(), nodes[i].ends.end());
    t.end_end = static_cast<uint32_t>(ends_.size());
  }
}

void NativeGroup::collect_candidates(std::string_view text, size_t byte_pos, unsigned slot, Few& out) const {
  constexpr size_t kMany = kDirectCandidates + 1;
  const uint32_t* open = open_.data() + open_start_[slot];
  const uint32_t* open_end = open_.data() + open_start_[slot + 1];
  if (static_cast<size_t>(open_end - open) > kDirectCandidates) {
    out.count = kMany;
    return;
  }
  out.count = 0;
  for (; open != open_end; ++open) out.member[out.count++] = *open;
  // The trie along the text: each node reached is a prefix the text at the
  // position begins with; its members join the candidates in member order.
  uint32_t node = 0;
  for (size_t i = byte_pos; i < text.size(); ++i) {
    const TrieNode& from = trie_[node];
    const unsigned char* first = edge_byte_.data() + from.edge_begin;
    const unsigned char* last = edge_byte_.data() + from.edge_end;
    const auto c = static_cast<unsigned char>(text[i]);
    const unsigned char* edge = std::lower_bound(first, last, c);
    if (edge == last || *edge != c) return;
    node = edge_target_[static_cast<size_t>(edge - edge_byte_.data())];
    const TrieNode& at = trie_[node];
    for (uint32_t j = at.end_begin; j < at.end_end; ++j) {
      if (out.count == kDirectCandidates) {
        out.count = kMany;
        return;
      }
      size_t slot_at = out.count++;
      for (; slot_at > 0 && out.member[slot_at - 1] > ends_[j]; --slot_at) out.member[slot_at] = out.member[slot_at - 1];
      out.member[slot_at] = ends_[j];
    }
  }
}

// Why match() finds the member that match_one_by_one() finds, with its span:
//
// 1. The candidates at the position are the members without a literal
//    prefix whose pattern may begin with the byte there or match empty (a
//    superset, see PatternStart), and the members whose literal prefix the
//    text at the position begins with (every match of such a member begins
//    with its prefix, so it matches nowhere else), in member order. A member
//    that is no candidate does not match there, so the first member that
//    matches is the first candidate that matches.
// 2. With few remaining candidates, each is matched in order with its own
//    expression.
// 3. Otherwise the set names every member that matches anchored at the
//    position (the set of the wrapped members, started one character
//    earlier, names the same members: "(?s:.)" takes that character, and
//    each member then sees what it sees in the whole text). The least of
//    them is the first member that matches; its own expression gives the
//    span. Should its own expression not match after all, or the set fail
//    (out of memory), the members are matched one by one instead.
std::optional<GroupMatch> NativeGroup::match(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return std::nullopt;
  const unsigned slot = byte_pos < text.size() ? static_cast<unsigned char>(text[byte_pos]) : 256;
  Few few;
  collect_candidates(text, byte_pos, slot, few);
  if (few.count > kDirectCandidates) return match_through_set(text, byte_pos);
  for (size_t i = 0; i < few.count; ++i)
    if (auto end = members_[few.member[i]]->match_end(text, byte_pos)) return GroupMatch{few.member[i], *end};
  return std::nullopt;
}

std::optional<GroupMatch> NativeGroup::match_through_set(std::string_view text, size_t byte_pos) const {
  if (byte_pos > text.size()) return std::nullopt;
  if (!sets_) return match_one_by_one(text, byte_pos);
  const RE2::Set* set = sets_->at_start.get();
  size_t from = byte_pos;
  if (byte_pos > 0 && sets_->after_char) {
    set = sets_->after_char.get();
    do --from;
    while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80);
  }
  thread_local std::vector<int> hits;
  RE2::Set::ErrorInfo info{RE2::Set::kNoError};
  if (!set->Match(re2_text(text.substr(from)), &hits, &info)) {
    if (info.kind == RE2::Set::kNoError) return std::nullopt;
    return match_one_by_one(text, byte_pos);
  }
  if (hits.empty()) return match_one_by_one(text, byte_pos);
  const uint32_t winner = static_cast<uint32_t>(*std::min_element(hits.begin(), hits.end()));
  if (winner < members_.size()) {
    if (auto end = members_[winner]->match_end(text, byte_pos)) return GroupMatch{winner, *end};
  }
  return match_one_by_one(text, byte_pos);
}

std::optional<GroupMatch> NativeGroup::match_one_by_one(std::string_view text, size_t byte_pos) const {
  for (uint32_t k = 0; k < members_.size(); ++k)
    if (auto end = members_[k]->match_end(text, byte_pos)) return GroupMatch{k, *end};
  return std::nullopt;
}

}  // namespace vx
