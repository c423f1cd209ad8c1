// The lexer's native matcher on RE2.
//
// NativeRegex is one rule's compiled pattern. NativeGroup is a run of rules
// searched as one expression (p1)|(p2)|...: with RE2's leftmost-first
// semantics and the search anchored at the scan position, the alternation
// matches exactly when some member matches there, and then reports the
// match of the first member (in order) that matches, with the span that
// member alone gives. Every search runs over the whole text, so ^, \A and \b
// see what lies before the scan position.
//
// Finding the span is cheap (RE2's DFA, one pass); finding which member won
// by asking RE2 for every wrapper group's offsets is not (a second,
// capture-tracking pass over a program the size of the whole group). So
// match() finds the span first and then settles the winner among the
// members that can begin with the byte at the position, each tested with a
// match-or-not search of its own expression; match_by_captures() is the
// plain capture search, kept as the reference the tests compare against.
// See NativeGroup::match() for why the two agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lexer/pattern_start.hpp"

namespace re2 {
class RE2;
}

namespace vx {

class NativeRegex {
 public:
  // Compiles `pattern` with RE2's default options and error logging off. A
  // pattern RE2 refuses gives nullptr, without any report: the rule then
  // keeps its Python matcher.
  [[nodiscard]] static std::shared_ptr<const NativeRegex> compile(std::string_view pattern);

  ~NativeRegex();
  NativeRegex(const NativeRegex&) = delete;
  NativeRegex& operator=(const NativeRegex&) = delete;

  [[nodiscard]] const std::string& pattern() const noexcept { return pattern_; }
  [[nodiscard]] int capture_count() const noexcept { return captures_; }
  [[nodiscard]] const PatternStart& start() const noexcept { return start_; }

  // Byte offset where the match anchored at `byte_pos` ends, if any.
  [[nodiscard]] std::optional<size_t> match_end(std::string_view text, size_t byte_pos) const;
  // Whether the pattern matches anchored at `byte_pos` (the cheapest search).
  [[nodiscard]] bool matches_at(std::string_view text, size_t byte_pos) const;

 private:
  NativeRegex(std::string pattern, std::unique_ptr<re2::RE2> re);

  std::string pattern_;
  std::unique_ptr<re2::RE2> re_;
  int captures_ = 0;
  PatternStart start_;
};

// A match of a group: which member won, and where its match ends.
struct GroupMatch {
  uint32_t member;  // index into the group's members
  size_t end;       // byte offset, exclusive; the match starts at the search position
  friend bool operator==(const GroupMatch&, const GroupMatch&) = default;
};

class NativeGroup {
 public:
  // The alternation (p1)|(p2)|... of two or more members, in member order;
  // nullptr when RE2 refuses it (then the caller searches member by member).
  [[nodiscard]] static std::shared_ptr<const NativeGroup> compile(
      std::vector<std::shared_ptr<const NativeRegex>> members);
  // A group of one member, searched with that member's own expression.
  [[nodiscard]] static std::shared_ptr<const NativeGroup> single(std::shared_ptr<const NativeRegex> member);

  ~NativeGroup();
  NativeGroup(const NativeGroup&) = delete;
  NativeGroup& operator=(const NativeGroup&) = delete;

  [[nodiscard]] size_t size() const noexcept { return members_.size(); }
  [[nodiscard]] const std::vector<std::shared_ptr<const NativeRegex>>& members() const noexcept { return members_; }

  // The fast search: overall span, then the winner among the candidates.
  [[nodiscard]] std::optional<GroupMatch> match(std::string_view text, size_t byte_pos) const;
  // The reference search: one capture search of the alternation; the winner
  // is the first member whose wrapper group took part in the match.
  [[nodiscard]] std::optional<GroupMatch> match_by_captures(std::string_view text, size_t byte_pos) const;
  // The definition: each member's own expression in order, first match wins.
  [[nodiscard]] std::optional<GroupMatch> match_one_by_one(std::string_view text, size_t byte_pos) const;

 private:
  NativeGroup() = default;
  void build_candidates();

  std::vector<std::shared_ptr<const NativeRegex>> members_;
  std::unique_ptr<re2::RE2> alternation_;  // absent for a group of one
  std::vector<int> wrapper_group_;         // capture index of member k's wrapper
  // Members that may begin with byte b, in member order:
  // candidates_[candidate_start_[b] .. candidate_start_[b + 1]); index 256
  // holds the members that may match the empty string (the end of the text).
  std::vector<uint32_t> candidate_start_;
  std::vector<uint32_t> candidates_;
};

}  // namespace vx
