// The lexer's native matcher on RE2.
//
// NativeRegex is one rule's compiled pattern. NativeGroup is a run of rules
// searched together: anchored at the scan position, it reports the first
// member (in order) that matches there, with the span that member alone
// gives, exactly as searching the members one by one would. Every search
// runs over the whole text, so ^, \A and \b see what lies before the scan
// position.
//
// The group first rules out the members that cannot begin with the byte at
// the position (PatternStart). A few candidates are tried one by one with
// their own expressions. Many candidates (a keyword per rule, say) are
// settled with one pass of an RE2::Set of the members, which tells every
// member that matches at the position whatever their number; the first of
// them is then matched with its own expression, which gives the span and
// confirms the set. Either way the cost per token does not grow with the
// number of members, and every reported winner has matched on its own.
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
  [[nodiscard]] const PatternStart& start() const noexcept { return start_; }

  // Byte offset where the match anchored at `byte_pos` ends, if any.
  [[nodiscard]] std::optional<size_t> match_end(std::string_view text, size_t byte_pos) const;
  // Whether the pattern matches anchored at `byte_pos` (the cheapest search).
  [[nodiscard]] bool matches_at(std::string_view text, size_t byte_pos) const;

 private:
  NativeRegex(std::string pattern, std::unique_ptr<re2::RE2> re);

  std::string pattern_;
  std::unique_ptr<re2::RE2> re_;
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
  // A group of two or more members, in member order; nullptr when RE2
  // refuses their set (then the caller searches member by member).
  [[nodiscard]] static std::shared_ptr<const NativeGroup> compile(
      std::vector<std::shared_ptr<const NativeRegex>> members);
  // A group of one member, searched with that member's own expression.
  [[nodiscard]] static std::shared_ptr<const NativeGroup> single(std::shared_ptr<const NativeRegex> member);

  ~NativeGroup();
  NativeGroup(const NativeGroup&) = delete;
  NativeGroup& operator=(const NativeGroup&) = delete;

  [[nodiscard]] size_t size() const noexcept { return members_.size(); }
  [[nodiscard]] const std::vector<std::shared_ptr<const NativeRegex>>& members() const noexcept { return members_; }

  // Up to this many candidates are tried one by one; more go to the set.
  static constexpr size_t kDirectCandidates = 3;

  // The search: the candidates for the byte at the position, one by one or
  // through the set.
  [[nodiscard]] std::optional<GroupMatch> match(std::string_view text, size_t byte_pos) const;
  // The definition: each member's own expression in order, first match wins.
  [[nodiscard]] std::optional<GroupMatch> match_one_by_one(std::string_view text, size_t byte_pos) const;
  // The set's way, whatever the number of candidates (for tests and benchmarks).
  [[nodiscard]] std::optional<GroupMatch> match_through_set(std::string_view text, size_t byte_pos) const;

 private:
  NativeGroup();
  void build_candidates();

  // Up to kDirectCandidates + 1 candidates in member order, and how many.
  struct Few {
    uint32_t member[kDirectCandidates + 1];
    size_t count = 0;
  };
  // The candidates at `byte_pos` (byte `slot`, 256 at the end of the text),
  // or more than kDirectCandidates of them when count says so.
  void collect_candidates(std::string_view text, size_t byte_pos, unsigned slot, Few& out) const;

  std::vector<std::shared_ptr<const NativeRegex>> members_;
  // Members without a literal prefix that may begin with byte b, in member
  // order: open_[open_start_[b] .. open_start_[b + 1]); index 256 holds the
  // members that may match the empty string (the end of the text).
  std::vector<uint32_t> open_start_;
  std::vector<uint32_t> open_;
  // The literal prefixes of the other members as a trie: node 0 is the
  // empty prefix; node n's children are edges [edge_begin, edge_end) by
  // ascending byte, and the members whose prefix ends at n are
  // ends_[end_begin, end_end), in member order.
  struct TrieNode {
    uint32_t edge_begin = 0, edge_end = 0;
    uint32_t end_begin = 0, end_end = 0;
  };
  std::vector<TrieNode> trie_;
  std::vector<unsigned char> edge_byte_;
  std::vector<uint32_t> edge_target_;
  std::vector<uint32_t> ends_;
  // The members as one RE2::Set anchored at the start of the text it is
  // given. A set sees no text before that start, so when some member looks
  // behind its start (^, \A, \b), positions after the first are searched
  // with a second set instead: each member behind "(?s:.)", from the
  // character before the position. Absent for a group of one.
  struct Sets;
  std::unique_ptr<Sets> sets_;
};

}  // namespace vx
