// The grammar model: numbered productions, terminals, rule names, precedence
// declarations, the start symbol, and the FIRST and FOLLOW caches.
//
// Every name the grammar meets is interned once as a dense SymbolId (in order
// of first mention); productions, sets and caches hold ids and the texts live
// only in the symbol table. Ids never decide an order that callers can see:
// production numbers, list orders and table contents follow the order of the
// edits. Names are compared byte for byte.
//
// The empty text is interned first, as id kEmptySymbol, then "$end" and
// "error" (kEndSymbol, kErrorSymbol). The empty text is the
// empty-sequence marker inside FIRST sets. It is an ordinary name otherwise
// (a quoted symbol of two quote characters makes it a terminal), and a FIRST
// set that holds it holds the marker.
//
// Production numbers: the number an add returns is the production's index at
// that moment. set_start inserts the augmented production "S'" -> start at
// index 0, which raises every existing number by one; the tables use the
// final numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/outcome.hpp"
#include "common/text.hpp"

namespace vx {

using SymbolId = uint32_t;
inline constexpr SymbolId kEmptySymbol = 0;  // the empty text, FIRST's marker
inline constexpr SymbolId kEndSymbol = 1;    // "$end", always a terminal
inline constexpr SymbolId kErrorSymbol = 2;  // "error", always a terminal
inline constexpr SymbolId kNoSymbol = UINT32_MAX;

inline constexpr std::string_view kEndName = "$end";
inline constexpr std::string_view kErrorName = "error";
inline constexpr std::string_view kAugmentedStartName = "S'";

// (associativity, level). The associativity of an explicit pair is any text;
// declared groups use "left", "right" or "nonassoc".
struct PrecPair {
  std::string assoc = "right";
  int32_t level = 0;
  friend bool operator==(const PrecPair&, const PrecPair&) = default;
};

// One group of Grammar::set_precedence: an associativity and its names.
struct PrecedenceGroup {
  std::string assoc;
  std::vector<std::string> names;
};

struct Production {
  SymbolId name;
  std::vector<SymbolId> syms;  // quoted symbols stored without their quotes
  PrecPair prec;
  uint64_t line;
};

// A FIRST or FOLLOW cache: for each key symbol (ascending id) its set of
// names, as ids (ascending). Empty until computed; once filled never changes.
class SymbolSets {
 public:
  [[nodiscard]] bool empty() const noexcept { return keys_.empty(); }
  [[nodiscard]] size_t size() const noexcept { return keys_.size(); }
  [[nodiscard]] SymbolId key(size_t i) const noexcept { return keys_[i]; }
  [[nodiscard]] std::span<const SymbolId> members(size_t i) const noexcept {
    return {members_.data() + begin_[i], begin_[i + 1] - begin_[i]};
  }
  // The entry index of `key`, or no value when the map has no entry for it.
  [[nodiscard]] std::optional<size_t> find(SymbolId key) const noexcept {
    if (key >= index_.size() || index_[key] == kNone) return std::nullopt;
    return index_[key];
  }
  [[nodiscard]] bool contains(size_t entry, SymbolId member) const noexcept;

  // Builds the map from (key, members) entries; keys need not be sorted,
  // members need not be sorted or unique.
  static SymbolSets from_entries(size_t num_symbols, std::vector<std::pair<SymbolId, std::vector<SymbolId>>> entries);

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  std::vector<SymbolId> keys_;
  std::vector<size_t> begin_{0};
  std::vector<SymbolId> members_;
  std::vector<uint32_t> index_;  // by symbol id: entry index or kNone
};

class Grammar {
 public:
  // A grammar whose terminals are the given names plus "$end" and "error".
  Grammar();
  explicit Grammar(std::span<const std::string> terminals);

  // Edits. A refusal is a ValueError failure with the exact message and
  // leaves the grammar unchanged (set_precedence keeps the groups it entered
  // before the refused one).
  Outcome<uint64_t> add_production(std::string_view name, std::span<const std::string> syms, uint64_t line = 0,
                                   std::optional<std::string_view> precedence = std::nullopt);
  Outcome<uint64_t> add_production_with_prec(std::string_view name, std::span<const std::string> syms, uint64_t line,
                                             std::optional<PrecPair> prec);
  Status set_precedence(std::span<const PrecedenceGroup> specs);
  Status set_start(std::optional<std::string_view> start = std::nullopt);

  // FIRST and FOLLOW (first_follow.cpp). Each fills its cache when it is
  // empty and returns it. compute_follow throws vx::InternalFailure when
  // "S'" is not a rule name (no set_start yet); the FIRST cache it filled
  // before stays.
  const SymbolSets& compute_first();
  const SymbolSets& compute_follow();
  [[nodiscard]] const SymbolSets& first() const noexcept { return first_; }
  [[nodiscard]] const SymbolSets& follow() const noexcept { return follow_; }

  // FIRST of a sequence against a FIRST map (keys missing from the map stand
  // for themselves); the result is sorted by id and may hold the marker.
  [[nodiscard]] std::vector<SymbolId> sequence_first(std::span<const SymbolId> seq, const SymbolSets& first) const;

  // Reading. Texts returned by reference stay valid until the next edit.
  [[nodiscard]] size_t num_symbols() const noexcept { return names_.size(); }
  [[nodiscard]] const std::string& name(SymbolId id) const { return names_[id]; }
  [[nodiscard]] std::optional<SymbolId> find_symbol(std::string_view name) const;
  [[nodiscard]] bool is_terminal(SymbolId id) const noexcept { return id < flags_.size() && (flags_[id] & kTerminal); }
  [[nodiscard]] bool is_nonterminal(SymbolId id) const noexcept {
    return id < flags_.size() && (flags_[id] & kNonterminal);
  }
  [[nodiscard]] bool is_terminal(std::string_view name) const;
  [[nodiscard]] bool is_nonterminal(std::string_view name) const;
  // Names of all terminals / rule names, in id order.
  [[nodiscard]] std::vector<std::string> terminal_names() const;
  [[nodiscard]] std::vector<std::string> nonterminal_names() const;

  [[nodiscard]] size_t num_productions() const noexcept { return productions_.size(); }
  [[nodiscard]] const std::vector<Production>& productions() const noexcept { return productions_; }
  [[nodiscard]] const Production& production(size_t number) const { return productions_[number]; }
  // The production numbers of a rule, ascending (empty for a non-rule).
  [[nodiscard]] std::span<const uint32_t> productions_of(SymbolId id) const noexcept;
  [[nodiscard]] std::span<const uint32_t> productions_of(std::string_view name) const;
  // The precedence pair declared for a name, if any.
  [[nodiscard]] const PrecPair* precedence_of(SymbolId id) const noexcept;
  [[nodiscard]] const PrecPair* precedence_of(std::string_view name) const;
  [[nodiscard]] std::optional<SymbolId> start() const noexcept { return start_; }

  // "name -> a b c", or "name -> <empty>"; symbols unquoted, as stored.
  [[nodiscard]] std::string production_text(size_t number) const;

 private:
  enum : uint8_t { kTerminal = 1, kNonterminal = 2 };

  SymbolId intern(std::string_view name);
  void add_terminal(SymbolId id) { flags_[id] |= kTerminal; }
  void rebuild_productions_by_name();

  std::vector<Production> productions_;
  std::optional<SymbolId> start_;
  std::vector<std::string> names_;  // by id
  TextMap<SymbolId> ids_;
  std::vector<uint8_t> flags_;                         // by id: kTerminal | kNonterminal
  std::vector<std::vector<uint32_t>> by_name_;         // by id: production numbers
  std::vector<std::optional<PrecPair>> precedence_;    // by id
  SymbolSets first_;
  SymbolSets follow_;
};

// A quoted symbol is at least two bytes, beginning and ending with the same
// quote character (' or "); stripping removes exactly that one pair.
[[nodiscard]] bool is_quoted_symbol(std::string_view s) noexcept;
[[nodiscard]] std::string_view strip_quotes(std::string_view s) noexcept;

}  // namespace vx
