#include "grammar_dsl.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace vx::testing {

namespace {

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  std::istringstream in{std::string(s)};
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

}  // namespace

void add_rules(Grammar& g, std::string_view rules) {
  // Separators are the words ":", "|" and ";" (quoted ones are symbols).
  const auto w = words(rules);
  size_t i = 0;
  while (i < w.size()) {
    if (w[i] == ";") {
      ++i;
      continue;
    }
    ASSERT_TRUE(i + 1 < w.size() && w[i + 1] == ":") << "expected 'name :' at word " << i << " of: " << rules;
    const std::string head = w[i];
    i += 2;
    for (;;) {
      std::vector<std::string> syms;
      std::optional<std::string> prec;
      uint64_t line = 0;
      for (; i < w.size() && w[i] != "|" && w[i] != ";"; ++i) {
        if (w[i] == "%prec" && i + 1 < w.size()) {
          prec = w[++i];
        } else if (w[i].size() > 1 && w[i][0] == '@') {
          line = std::stoull(w[i].substr(1));
        } else {
          syms.push_back(w[i]);
        }
      }
      auto r = prec ? g.add_production(head, syms, line, std::string_view(*prec)) : g.add_production(head, syms, line);
      ASSERT_TRUE(r.ok()) << r.error().message;
      if (i < w.size() && w[i] == "|") {
        ++i;
        continue;
      }
      break;
    }
  }
}

Grammar make_grammar(const GrammarSpec& spec) {
  Grammar g(spec.terminals);
  if (!spec.precedence.empty()) {
    auto st = g.set_precedence(spec.precedence);
    EXPECT_TRUE(st.ok()) << st.error().message;
  }
  add_rules(g, spec.rules);
  auto st = spec.start ? g.set_start(std::string_view(*spec.start)) : g.set_start();
  EXPECT_TRUE(st.ok()) << st.error().message;
  return g;
}

namespace {
// The texts joined by single spaces.
std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const auto& t : texts) {
    if (!out.empty()) out += ' ';
    out += t;
  }
  return out;
}

template <class NameOf>
std::string join_names(std::span<const SymbolId> ids, NameOf&& name_of) {
  std::vector<std::string> texts;
  for (SymbolId id : ids) texts.push_back(name_of(id));
  return joined(texts);
}
}  // namespace

std::string names(const Grammar& g, std::span<const SymbolId> ids) {
  return join_names(ids, [&](SymbolId id) -> const std::string& { return g.name(id); });
}

std::string names(const LRTable& t, std::span<const SymbolId> ids) {
  return join_names(ids, [&](SymbolId id) -> const std::string& { return t.symbol_name(id); });
}

std::string set_of(const Grammar& g, const SymbolSets& sets, std::string_view key) {
  auto id = g.find_symbol(key);
  if (!id) return "<none>";
  auto e = sets.find(*id);
  if (!e) return "<none>";
  std::vector<std::string> m;
  for (SymbolId s : sets.members(*e)) m.push_back(s == kEmptySymbol ? "<e>" : g.name(s));
  std::sort(m.begin(), m.end());
  return joined(m);
}

std::string items(std::span<const LrItem> list) {
  std::string out;
  for (const LrItem& it : list) {
    if (!out.empty()) out += ' ';
    out += "(" + std::to_string(it.production) + "," + std::to_string(it.dot) + ")";
  }
  return out;
}

std::string action_row(const LRTable& t, size_t state) {
  std::vector<std::string> cells;
  for (const auto& c : t.action_row(state)) {
    cells.push_back(t.symbol_name(c.symbol) + ":" + (c.entry ? std::to_string(*c.entry) : std::string("err")));
  }
  std::sort(cells.begin(), cells.end());
  return joined(cells);
}

std::string goto_row(const LRTable& t, size_t state) {
  std::vector<std::string> cells;
  for (const auto& c : t.goto_row(state)) cells.push_back(t.symbol_name(c.symbol) + ":" + std::to_string(c.target));
  std::sort(cells.begin(), cells.end());
  return joined(cells);
}

std::string dump(const LRTable& t) {
  std::ostringstream out;
  for (size_t s = 0; s < t.num_states(); ++s) {
    out << s << ": " << items(t.state(s)) << " | " << action_row(t, s) << " | " << goto_row(t, s) << "\n";
  }
  for (const auto& la : t.lookaheads())
    out << "la (" << la.state << "," << la.production << "): " << names(t, la.terminals) << "\n";
  for (const auto& c : t.conflicts())
    out << c.kind << " " << c.state << " " << c.token << " " << c.resolution << " | " << c.reason << " | "
        << items(c.candidates) << "\n";
  return out.str();
}

}  // namespace vx::testing
