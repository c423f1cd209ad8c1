#include "grammar/grammar.hpp"

#include <algorithm>
#include <utility>

#include "common/text.hpp"

namespace vx {

bool is_quoted_symbol(std::string_view s) noexcept {
  return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
}

std::string_view strip_quotes(std::string_view s) noexcept {
  return is_quoted_symbol(s) ? s.substr(1, s.size() - 2) : s;
}

// ---------------------------------------------------------------------------
// SymbolSets

bool SymbolSets::contains(size_t entry, SymbolId member) const noexcept {
  auto m = members(entry);
  return std::binary_search(m.begin(), m.end(), member);
}

SymbolSets SymbolSets::from_entries(size_t num_symbols,
                                    std::vector<std::pair<SymbolId, std::vector<SymbolId>>> entries) {
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  SymbolSets out;
  out.index_.assign(num_symbols, kNone);
  out.keys_.reserve(entries.size());
  out.begin_.reserve(entries.size() + 1);
  for (auto& [key, members] : entries) {
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    out.index_[key] = static_cast<uint32_t>(out.keys_.size());
    out.keys_.push_back(key);
    out.members_.insert(out.members_.end(), members.begin(), members.end());
    out.begin_.push_back(out.members_.size());
  }
  return out;
}

// ---------------------------------------------------------------------------
// Grammar: construction and symbols

Grammar::Grammar() {
  intern("");
  add_terminal(intern(kEndName));
  add_terminal(intern(kErrorName));
}

Grammar::Grammar(std::span<const std::string> terminals) : Grammar() {
  for (const auto& t : terminals) add_terminal(intern(t));
}

SymbolId Grammar::intern(std::string_view name) {
  auto it = ids_.find(name);
  if (it != ids_.end()) return it->second;
  const auto id = static_cast<SymbolId>(names_.size());
  names_.emplace_back(name);
  ids_.emplace(std::string(name), id);
  flags_.push_back(0);
  by_name_.emplace_back();
  precedence_.emplace_back();
  return id;
}

std::optional<SymbolId> Grammar::find_symbol(std::string_view name) const {
  auto it = ids_.find(name);
  if (it == ids_.end()) return std::nullopt;
  return it->second;
}

bool Grammar::is_terminal(std::string_view name) const {
  auto id = find_symbol(name);
  return id && is_terminal(*id);
}

bool Grammar::is_nonterminal(std::string_view name) const {
  auto id = find_symbol(name);
  return id && is_nonterminal(*id);
}

std::vector<std::string> Grammar::terminal_names() const {
  std::vector<std::string> out;
  for (SymbolId i = 0; i < names_.size(); ++i)
    if (is_terminal(i)) out.push_back(names_[i]);
  return out;
}

std::vector<std::string> Grammar::nonterminal_names() const {
  std::vector<std::string> out;
  for (SymbolId i = 0; i < names_.size(); ++i)
    if (is_nonterminal(i)) out.push_back(names_[i]);
  return out;
}

std::span<const uint32_t> Grammar::productions_of(SymbolId id) const noexcept {
  if (id >= by_name_.size()) return {};
  return by_name_[id];
}

std::span<const uint32_t> Grammar::productions_of(std::string_view name) const {
  auto id = find_symbol(name);
  return id ? productions_of(*id) : std::span<const uint32_t>{};
}

const PrecPair* Grammar::precedence_of(SymbolId id) const noexcept {
  if (id >= precedence_.size() || !precedence_[id]) return nullptr;
  return &*precedence_[id];
}

const PrecPair* Grammar::precedence_of(std::string_view name) const {
  auto id = find_symbol(name);
  return id ? precedence_of(*id) : nullptr;
}

std::string Grammar::production_text(size_t number) const {
  const Production& p = productions_[number];
  std::string out = names_[p.name];
  out += " -> ";
  if (p.syms.empty()) {
    out += "<empty>";
  } else {
    for (size_t i = 0; i < p.syms.size(); ++i) {
      if (i > 0) out += ' ';
      out += names_[p.syms[i]];
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Grammar: edits

Outcome<uint64_t> Grammar::add_production(std::string_view name, std::span<const std::string> syms, uint64_t line,
                                          std::optional<std::string_view> precedence) {
  if (!precedence) return add_production_with_prec(name, syms, line, std::nullopt);
  const std::string_view p = strip_quotes(*precedence);
  const PrecPair* pair = precedence_of(p);
  if (pair == nullptr) return value_error("Precedence specified for unknown symbol " + quote_name(p));
  return add_production_with_prec(name, syms, line, *pair);
}

Outcome<uint64_t> Grammar::add_production_with_prec(std::string_view name, std::span<const std::string> syms,
                                                    uint64_t line, std::optional<PrecPair> prec) {
  if (is_terminal(name)) return value_error("Rule name " + quote_name(name) + " conflicts with terminal symbol");
  // Nothing below can fail.
  const SymbolId lhs = intern(name);
  flags_[lhs] |= kNonterminal;

  std::vector<SymbolId> rhs;
  rhs.reserve(syms.size());
  for (const auto& s : syms) {
    if (is_quoted_symbol(s)) {
      const SymbolId lit = intern(strip_quotes(s));
      add_terminal(lit);
      rhs.push_back(lit);
    } else {
      rhs.push_back(intern(s));
    }
  }

  // Default precedence: that of the rightmost terminal, looked at alone.
  PrecPair pair;
  if (prec) {
    pair = std::move(*prec);
  } else {
    for (auto it = rhs.rbegin(); it != rhs.rend(); ++it) {
      if (!is_terminal(*it)) continue;
      if (const PrecPair* declared = precedence_of(*it)) pair = *declared;
      break;
    }
  }

  const auto number = static_cast<uint32_t>(productions_.size());
  productions_.push_back(Production{lhs, std::move(rhs), std::move(pair), line});
  by_name_[lhs].push_back(number);
  return uint64_t{number};
}

Status Grammar::set_precedence(std::span<const PrecedenceGroup> specs) {
  int32_t level = 1;
  for (const auto& group : specs) {
    if (group.assoc != "left" && group.assoc != "right" && group.assoc != "nonassoc") {
      return value_error("Invalid associativity " + quote_name(group.assoc));
    }
    for (const auto& n : group.names) {
      SymbolId id;
      if (is_quoted_symbol(n)) {
        id = intern(strip_quotes(n));
        add_terminal(id);
      } else {
        id = intern(n);
      }
      precedence_[id] = PrecPair{group.assoc, level};
    }
    ++level;
  }
  return ok();
}

Status Grammar::set_start(std::optional<std::string_view> start) {
  std::string_view candidate;
  if (start) {
    candidate = *start;
  } else {
    if (productions_.empty()) return value_error("Cannot determine start symbol: No productions defined");
    candidate = names_[productions_[0].name];
  }
  const auto id = find_symbol(candidate);
  if (!id || !is_nonterminal(*id)) {
    return value_error("Start symbol " + quote_name(candidate) + " is not a valid nonterminal");
  }
  start_ = *id;
  const SymbolId augmented = intern(kAugmentedStartName);
  productions_.insert(productions_.begin(), Production{augmented, {*id}, PrecPair{}, 0});
  flags_[augmented] |= kNonterminal;
  rebuild_productions_by_name();
  return ok();
}

void Grammar::rebuild_productions_by_name() {
  for (auto& list : by_name_) list.clear();
  for (uint32_t i = 0; i < productions_.size(); ++i) by_name_[productions_[i].name].push_back(i);
}

}  // namespace vx
