#include "lexer/pattern_start.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/text.hpp"

namespace vx {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr int kMaxDepth = 1000;

using Ranges = std::vector<std::pair<char32_t, char32_t>>;

struct Piece {
  std::bitset<256> first;
  bool nullable = false;
  bool looks_behind = false;  // an assertion reading the text before may come before any character
};

struct Flags {
  bool case_insensitive = false;
  bool dot_nl = false;
};

bool is_ascii_letter(char32_t c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

unsigned lead_byte(char32_t cp) noexcept {
  if (cp < 0x80) return cp;
  if (cp < 0x800) return 0xC0 | (cp >> 6);
  if (cp < 0x10000) return 0xE0 | (cp >> 12);
  return 0xF0 | (cp >> 18);
}

void set_high_bytes(std::bitset<256>& bits) {
  for (unsigned b = 0x80; b < 256; ++b) bits.set(b);
}

Ranges complement(Ranges r) {
  std::sort(r.begin(), r.end());
  Ranges out;
  char32_t next = 0;  // first code point not yet covered
  bool done = false;
  for (auto [lo, hi] : r) {
    if (lo > next) out.emplace_back(next, lo - 1);
    if (hi >= kMaxCodePoint) {
      done = true;
      break;
    }
    next = std::max<char32_t>(next, hi + 1);
  }
  if (!done) out.emplace_back(next, kMaxCodePoint);
  return out;
}

void add_perl_class(char name, Ranges& out) {
  Ranges r;
  switch (name | 0x20) {
    case 'd': r = {{'0', '9'}}; break;
    case 's': r = {{'\t', '\n'}, {'\f', '\r'}, {' ', ' '}}; break;
    default: r = {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}; break;  // w
  }
  if (name >= 'A' && name <= 'Z') r = complement(std::move(r));
  out.insert(out.end(), r.begin(), r.end());
}

// First bytes of the characters in `r`. Under case folding a letter may also
// be matched by a non-ASCII character (RE2 folds k to U+212A, s to U+017F),
// and a non-ASCII character by an ASCII letter.
std::bitset<256> first_bytes_of(const Ranges& r, bool case_insensitive) {
  std::bitset<256> bits;
  bool letters = false;
  bool non_ascii = false;
  for (auto [lo, hi] : r) {
    for (char32_t c = lo; c <= hi && c < 0x80; ++c) {
      bits.set(c);
      if (is_ascii_letter(c)) letters = true;
    }
    if (hi >= 0x80) {
      non_ascii = true;
      for (unsigned b = lead_byte(std::max<char32_t>(lo, 0x80)); b <= lead_byte(hi); ++b) bits.set(b);
    }
  }
  if (!case_insensitive) return bits;
  if (non_ascii) {
    bits.set();
    return bits;
  }
  if (letters) {
    for (unsigned c = 'A'; c <= 'Z'; ++c)
      if (bits[c] || bits[c | 0x20]) {
        bits.set(c);
        bits.set(c | 0x20);
      }
    set_high_bytes(bits);
  }
  return bits;
}

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_ascii_punct(char c) noexcept {
  auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7F && !((c >= '0' && c <= '9') || is_ascii_letter(static_cast<char32_t>(c)));
}

// One atom of the pattern, as far as the start of a match is concerned.
struct Atom {
  enum Kind { Literal, Set, ZeroWidth, Group, FlagsOnly } kind = Set;
  Piece piece;
  char32_t literal = 0;  // for Literal
};

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  bool run(Piece& out) {
    Flags flags;
    if (!alternation(flags, 0, out)) return false;
    return i_ == s_.size();
  }

  std::string prefix;

 private:
  bool at_end() const noexcept { return i_ >= s_.size(); }
  char peek(size_t k = 0) const noexcept { return i_ + k < s_.size() ? s_[i_ + k] : '\0'; }

  void close_prefix() noexcept { prefix_open_ = false; }

  // Parses branches up to a ')' (not consumed) or the end of the text.
  bool alternation(Flags flags, int depth, Piece& out) {
    if (depth > kMaxDepth) return false;
    const bool top = depth == 0;
    Piece total;
    Piece branch{{}, true, false};
    for (;;) {
      if (at_end() || peek() == ')' || peek() == '|') {
        total.first |= branch.first;
        total.nullable = total.nullable || branch.nullable;
        total.looks_behind = total.looks_behind || branch.looks_behind;
        if (peek() == '|' && !at_end()) {
          ++i_;
          if (top) {
            prefix.clear();
            close_prefix();
          }
          branch = Piece{{}, true, false};
          continue;
        }
        if (top && !at_end()) return false;  // an unmatched ')'
        break;
      }
      Atom a;
      if (!atom(flags, depth, a)) return false;
      if (a.kind == Atom::FlagsOnly) continue;
      bool quantified = false;
      bool may_repeat_zero = false;
      if (!quantifiers(quantified, may_repeat_zero)) return false;
      if (top) {
        if (quantified || (a.kind != Atom::ZeroWidth && a.kind != Atom::Literal))
          close_prefix();
        else if (a.kind == Atom::Literal && prefix_open_)
          append_literal(a.literal, flags.case_insensitive);
      }
      Piece p = a.piece;
      if (may_repeat_zero) p.nullable = true;
      if (branch.nullable) {
        branch.first |= p.first;
        branch.looks_behind = branch.looks_behind || p.looks_behind;
      }
      branch.nullable = branch.nullable && p.nullable;
    }
    out = total;
    return true;
  }

  void append_literal(char32_t c, bool case_insensitive) {
    if (case_insensitive && (c >= 0x80 || is_ascii_letter(c))) {
      close_prefix();
      return;
    }
    append_utf8(prefix, c);
  }

  // Zero or more repetition operators after an atom.
  bool quantifiers(bool& quantified, bool& may_repeat_zero) {
    for (;;) {
      char c = peek();
      if (at_end()) return true;
      if (c == '*' || c == '?') {
        ++i_;
        may_repeat_zero = true;
      } else if (c == '+') {
        ++i_;
      } else if (c == '{') {
        size_t j = i_ + 1;
        auto digits = [&](long& v) {
          size_t start = j;
          v = 0;
          while (j < s_.size() && s_[j] >= '0' && s_[j] <= '9') {
            v = std::min<long>(v * 10 + (s_[j] - '0'), 100000);
            ++j;
          }
          return j > start;
        };
        long lo = 0;
        long hi = 0;
        if (!digits(lo)) return false;  // '{' that is no repetition: not read
        if (j < s_.size() && s_[j] == ',') {
          ++j;
          digits(hi);
        }
        if (j >= s_.size() || s_[j] != '}') return false;
        i_ = j + 1;
        if (lo == 0) may_repeat_zero = true;
      } else {
        return true;
      }
      quantified = true;
      if (peek() == '?' && !at_end()) ++i_;  // non-greedy form
    }
  }

  bool atom(Flags& flags, int depth, Atom& a) {
    const char c = peek();
    switch (c) {
      case '(': return group(flags, depth, a);
      case '[': {
        Ranges r;
        if (!char_class(r)) return false;
        a.kind = Atom::Set;
        a.piece.first = first_bytes_of(r, flags.case_insensitive);
        a.piece.nullable = false;
        return true;
      }
      case '.':
        ++i_;
        a.kind = Atom::Set;
        a.piece.first.set();
        if (!flags.dot_nl) a.piece.first.reset('\n');
        return true;
      case '^':
      case '$':
        a.kind = Atom::ZeroWidth;
        a.piece.nullable = true;
        a.piece.looks_behind = c == '^';
        ++i_;
        return true;
      case '\\': return escape(flags, a);
      case '*':
      case '+':
      case '?':
      case '{': return false;
      default: break;
    }
    char32_t cp;
    if (!utf8_char(cp)) return false;
    literal(cp, flags, a);
    return true;
  }

  void literal(char32_t cp, const Flags& flags, Atom& a) {
    a.kind = Atom::Literal;
    a.literal = cp;
    a.piece.nullable = false;
    a.piece.first = first_bytes_of(Ranges{{cp, cp}}, flags.case_insensitive);
  }

  bool utf8_char(char32_t& cp) {
    if (at_end()) return false;
    auto b = static_cast<unsigned char>(peek());
    int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0 || i_ + static_cast<size_t>(extra) >= s_.size()) return false;
    cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
      auto cb = static_cast<unsigned char>(s_[i_ + k]);
      if ((cb & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cb & 0x3F);
    }
    i_ += extra + 1;
    return true;
  }

  bool group(Flags& flags, int depth, Atom& a) {
    ++i_;  // '('
    Flags inner = flags;
    if (peek() == '?') {
      ++i_;
      if (peek() == ':') {
        ++i_;
      } else if (peek() == 'P' || peek() == '<') {
        if (peek() == 'P') ++i_;
        if (peek() != '<') return false;
        ++i_;
        while (!at_end() && peek() != '>') {
          char n = peek();
          if (!(n == '_' || (n >= '0' && n <= '9') || is_ascii_letter(static_cast<char32_t>(n)))) return false;
          ++i_;
        }
        if (at_end()) return false;
        ++i_;  // '>'
      } else {
        bool negate = false;
        bool any = false;
        for (;;) {
          char f = peek();
          if (at_end()) return false;
          if (f == ')' || f == ':') break;
          if (f == '-') {
            if (negate) return false;
            negate = true;
          } else if (f == 'i') {
            inner.case_insensitive = !negate;
          } else if (f == 's') {
            inner.dot_nl = !negate;
          } else if (f != 'm' && f != 'U') {
            return false;
          }
          any = true;
          ++i_;
        }
        if (!any) return false;
        if (peek() == ')') {
          ++i_;
          flags = inner;  // the flags hold to the end of the enclosing group
          a.kind = Atom::FlagsOnly;
          return true;
        }
        ++i_;  // ':'
      }
    }
    Piece p;
    if (!alternation(inner, depth + 1, p)) return false;
    if (peek() != ')' || at_end()) return false;
    ++i_;
    a.kind = Atom::Group;
    a.piece = p;
    return true;
  }

  // A single character written after a backslash or as itself, in or out of
  // a class: \xHH, \x{H...}, the C escapes and escaped punctuation.
  bool escaped_char(char e, char32_t& cp) {
    switch (e) {
      case 'a': cp = 7; return true;
      case 'f': cp = '\f'; return true;
      case 't': cp = '\t'; return true;
      case 'n': cp = '\n'; return true;
      case 'r': cp = '\r'; return true;
      case 'v': cp = '\v'; return true;
      case 'x': {
        if (peek() == '{') {
          ++i_;
          char32_t v = 0;
          size_t n = 0;
          while (!at_end() && peek() != '}') {
            int h = hex_value(peek());
            if (h < 0 || ++n > 8) return false;
            v = v * 16 + static_cast<char32_t>(h);
            ++i_;
          }
          if (at_end() || n == 0 || v > kMaxCodePoint) return false;
          ++i_;
          cp = v;
          return true;
        }
        int h1 = hex_value(peek());
        int h2 = hex_value(peek(1));
        if (h1 < 0 || h2 < 0 || i_ + 1 >= s_.size()) return false;
        i_ += 2;
        cp = static_cast<char32_t>(h1 * 16 + h2);
        return true;
      }
      default:
        if (is_ascii_punct(e)) {
          cp = static_cast<unsigned char>(e);
          return true;
        }
        return false;
    }
  }

  bool escape(Flags& flags, Atom& a) {
    if (i_ + 1 >= s_.size()) return false;
    const char e = s_[i_ + 1];
    i_ += 2;
    switch (e) {
      case 'A':
      case 'z':
      case 'b':
      case 'B':
        a.kind = Atom::ZeroWidth;
        a.piece.nullable = true;
        a.piece.looks_behind = e != 'z';
        return true;
      case 'd':
      case 'D':
      case 's':
      case 'S':
      case 'w':
      case 'W': {
        Ranges r;
        add_perl_class(e, r);
        a.kind = Atom::Set;
        a.piece.first = first_bytes_of(r, flags.case_insensitive);
        a.piece.nullable = false;
        return true;
      }
      default: break;
    }
    char32_t cp;
    if (!escaped_char(e, cp)) return false;
    literal(cp, flags, a);
    return true;
  }

  // One member of a class: either a single character (which may open a
  // range) or a Perl class added to `r` directly.
  bool class_member(Ranges& r, bool& single, char32_t& cp) {
    single = false;
    if (peek() == '\\') {
      if (i_ + 1 >= s_.size()) return false;
      const char e = s_[i_ + 1];
      i_ += 2;
      if (e == 'd' || e == 'D' || e == 's' || e == 'S' || e == 'w' || e == 'W') {
        add_perl_class(e, r);
        return true;
      }
      if (!escaped_char(e, cp)) return false;
      single = true;
      return true;
    }
    if (!utf8_char(cp)) return false;
    single = true;
    return true;
  }

  bool char_class(Ranges& out) {
    ++i_;  // '['
    bool negate = false;
    if (peek() == '^') {
      negate = true;
      ++i_;
    }
    Ranges r;
    bool first = true;
    for (;;) {
      if (at_end()) return false;
      if (peek() == ']' && !first) {
        ++i_;
        break;
      }
      first = false;
      if (peek() == '[' && peek(1) == ':') return false;  // POSIX names: not read
      bool single;
      char32_t lo;
      if (!class_member(r, single, lo)) return false;
      if (!single) continue;
      if (peek() == '-' && i_ + 1 < s_.size() && s_[i_ + 1] != ']') {
        ++i_;
        bool single_hi;
        char32_t hi;
        if (!class_member(r, single_hi, hi) || !single_hi || hi < lo) return false;
        r.emplace_back(lo, hi);
      } else {
        r.emplace_back(lo, lo);
      }
    }
    out = negate ? complement(std::move(r)) : std::move(r);
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
  bool prefix_open_ = true;
};

}  // namespace

PatternStart analyze_pattern_start(std::string_view re2_pattern) {
  PatternStart out;
  Reader reader(re2_pattern);
  Piece p;
  if (!reader.run(p)) {
    out.first_bytes.set();
    out.nullable = true;
    out.looks_behind = true;
    out.understood = false;
    return out;
  }
  out.first_bytes = p.first;
  out.nullable = p.nullable;
  out.looks_behind = p.looks_behind;
  out.prefix = std::move(reader.prefix);
  out.understood = true;
  return out;
}

}  // namespace vx
