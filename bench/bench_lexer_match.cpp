// Micro-benchmark of the native group search: how much it costs to find the
// winning rule of a group and its span, per token, on a C-like token set of
// 28 rules over about 1 MB of generated source (ASCII, and with non-ASCII
// text in strings and comments).
//
// Strategies, all anchored at the scan position over the whole text:
//   span only      - the alternation's overall span, no winner (a lower bound)
//   group          - NativeGroup::match: the candidates for the byte at the
//                    position, one by one when they are few, else the set
//   set            - NativeGroup::match_through_set: the set, then the winner
//   one by one     - each rule's own expression in rule order
//
// Usage: bench_lexer_match [megabytes]
#include <re2/re2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lexer/input_text.hpp"
#include "lexer/re2_matcher.hpp"

namespace {

using vx::GroupMatch;
using vx::InputText;
using vx::NativeGroup;
using vx::NativeRegex;

const char* const kKeywords[] = {"if",     "else",  "while", "for",    "return", "int",    "float",
                                 "char",   "void",  "struct", "break", "continue", "switch", "case",
                                 "default", "do",   "sizeof", "static"};

std::vector<std::string> rule_patterns() {
  std::vector<std::string> p;
  p.push_back("//[^\\n]*");                                  // line comment
  p.push_back("/\\*(?:[^*]|\\*+[^*/])*\\*+/");               // block comment
  p.push_back("\"(?:[^\"\\\\\\n]|\\\\.)*\"");                // string with escapes
  p.push_back("'(?:[^'\\\\\\n]|\\\\.)'");                    // character literal
  for (const char* k : kKeywords) p.push_back(std::string(k) + "\\b");
  p.push_back("[0-9]+\\.[0-9]*(?:[eE][-+]?[0-9]+)?|\\.[0-9]+(?:[eE][-+]?[0-9]+)?");  // float
  p.push_back("0[xX][0-9a-fA-F]+|[0-9]+");                  // integer
  p.push_back("[A-Za-z_][A-Za-z0-9_]*");                    // identifier
  p.push_back("==|!=|<=|>=|&&|\\|\\||\\+\\+|--|->|\\+=|-=|\\*=|/=");  // two-character operators
  p.push_back("[-+*/%<>=!&|^~?:]");                          // one-character operators
  p.push_back("[(){}\\[\\];,.]");                            // punctuation
  return p;
}

// Generated C-like source of at least `bytes` bytes.
std::string make_source(size_t bytes, bool non_ascii, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const char* const names[] = {"x", "count", "buffer_len", "i", "node", "next", "value", "tmp2", "result", "p"};
  const char* const ops[] = {"+", "-", "*", "/", "==", "!=", "<=", "&&", "||", "<", ">", "%", "->", "+="};
  const char* const words[] = {"abc", "hello world", "a\\\"quoted\\\"", "tab\\t", "x"};
  const char* const uwords[] = {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "na\xC3\xAFve \xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  std::string s;
  while (s.size() < bytes) {
    switch (pick(8)) {
      case 0:
        s += "if (";
        s += names[pick(10)];
        s += " ";
        s += ops[pick(14)];
        s += " ";
        s += std::to_string(pick(1000));
        s += ") {\n";
        break;
      case 1:
        s += "  ";
        s += names[pick(10)];
        s += " = ";
        s += names[pick(10)];
        s += " ";
        s += ops[pick(14)];
        s += " ";
        s += std::to_string(pick(100000)) + "." + std::to_string(pick(100));
        s += ";\n";
        break;
      case 2:
        s += "  return ";
        s += names[pick(10)];
        s += "(";
        s += names[pick(10)];
        s += ", 0x";
        s += "1F";
        s += ");\n}\n";
        break;
      case 3:
        s += "  printf(\"";
        s += non_ascii && pick(2) ? uwords[pick(4)] : words[pick(5)];
        s += "\", '";
        s += pick(2) ? "a" : "\\n";
        s += "');\n";
        break;
      case 4:
        s += "// ";
        s += non_ascii ? uwords[pick(4)] : "a comment";
        s += " about ";
        s += names[pick(10)];
        s += "\n";
        break;
      case 5:
        s += "/* block ";
        s += non_ascii ? uwords[pick(4)] : "note";
        s += " */\n";
        break;
      case 6:
        s += "  while (";
        s += names[pick(10)];
        s += "[i] != '\\0') { i++; }\n";
        break;
      default:
        s += "static int ";
        s += names[pick(10)];
        s += "_tab[16];\n";
        break;
    }
  }
  return s;
}

using Search = std::function<std::optional<GroupMatch>(std::string_view, size_t)>;

struct Run {
  double ns_per_token;
  size_t tokens;
  uint64_t checksum;
};

Run lex(const InputText& input, const Search& search) {
  const std::string& text = input.utf8();
  const size_t n = text.size();
  size_t byte_pos = 0;
  uint64_t pos = 0;
  size_t tokens = 0;
  uint64_t checksum = 0;
  auto t0 = std::chrono::steady_clock::now();
  while (byte_pos < n) {
    char c = text[byte_pos];
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {  // the ignore set
      ++byte_pos;
      ++pos;
      continue;
    }
    auto m = search(text, byte_pos);
    if (!m) {
      std::fprintf(stderr, "no token at byte %zu\n", byte_pos);
      std::exit(1);
    }
    pos = input.position_after(pos, m->end - byte_pos);
    byte_pos = m->end;
    ++tokens;
    checksum = checksum * 31 + m->member * 7 + pos;
  }
  auto t1 = std::chrono::steady_clock::now();
  double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
  return {ns / static_cast<double>(tokens), tokens, checksum};
}

Run best_of(int rounds, const InputText& input, const Search& search) {
  Run best = lex(input, search);
  for (int r = 1; r < rounds; ++r) {
    Run next = lex(input, search);
    if (next.ns_per_token < best.ns_per_token) best = next;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 1.0;
  const size_t bytes = static_cast<size_t>(megabytes * 1024 * 1024);

  std::vector<std::shared_ptr<const NativeRegex>> members;
  for (const auto& p : rule_patterns()) {
    auto re = NativeRegex::compile(p);
    if (!re) {
      std::fprintf(stderr, "pattern refused: %s\n", p.c_str());
      return 1;
    }
    members.push_back(re);
  }
  auto group = NativeGroup::compile(members);
  if (!group) {
    std::fprintf(stderr, "group refused\n");
    return 1;
  }
  std::string alternation;
  for (const auto& m : members) alternation += (alternation.empty() ? "(" : "|(") + m->pattern() + ")";
  RE2::Options quiet;
  quiet.set_log_errors(false);
  RE2 span_re(alternation, quiet);

  std::printf("native group search, %zu rules, %.1f MB of C-like source, best of 3 runs\n", members.size(), megabytes);
  std::printf("%-10s %-12s %10s %10s\n", "input", "strategy", "tokens", "ns/token");
  for (bool non_ascii : {false, true}) {
    InputText input = InputText::from_utf8(make_source(bytes, non_ascii, 42));
    const char* kind = non_ascii ? "non-ASCII" : "ASCII";

    // span only: the loop advances by the overall span; no winner is found.
    Search span_only = [&](std::string_view text, size_t pos) -> std::optional<GroupMatch> {
      re2::StringPiece m;
      if (!span_re.Match(re2::StringPiece(text.data(), text.size()), pos, text.size(), RE2::ANCHOR_START, &m, 1))
        return std::nullopt;
      return GroupMatch{0, static_cast<size_t>(m.data() - text.data()) + m.size()};
    };
    Search grouped = [&](std::string_view text, size_t pos) { return group->match(text, pos); };
    Search through_set = [&](std::string_view text, size_t pos) { return group->match_through_set(text, pos); };
    Search one_by_one = [&](std::string_view text, size_t pos) { return group->match_one_by_one(text, pos); };

    Run r_span = best_of(3, input, span_only);
    Run r_group = best_of(3, input, grouped);
    Run r_set = best_of(3, input, through_set);
    Run r_one = best_of(3, input, one_by_one);
    if (r_group.checksum != r_set.checksum || r_group.checksum != r_one.checksum) {
      std::fprintf(stderr, "strategies disagree on %s input\n", kind);
      return 1;
    }
    std::printf("%-10s %-12s %10zu %10.1f\n", kind, "span only", r_span.tokens, r_span.ns_per_token);
    std::printf("%-10s %-12s %10zu %10.1f\n", kind, "group", r_group.tokens, r_group.ns_per_token);
    std::printf("%-10s %-12s %10zu %10.1f\n", kind, "set", r_set.tokens, r_set.ns_per_token);
    std::printf("%-10s %-12s %10zu %10.1f\n", kind, "one by one", r_one.tokens, r_one.ns_per_token);
  }
  return 0;
}
