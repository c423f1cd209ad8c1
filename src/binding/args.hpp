// Binding of call arguments to a method's parameters, by position and by
// keyword, with the interpreter-style messages for calls that do not fit.
//
// A parameter list is written once, as the text signature Python shows:
//
//   using kAddRule = VX_SIGNATURE("LexerEngine",
//       "add_rule($self, state, name, pattern, func=None, priority=0, flags=0, *, compiled=None)");
//
// The names, their count, which are required, the positional-only ("/") and
// keyword-only ("*") parts, the name used in messages and the docstring all
// follow from that one text at compile time, and binding returns an array
// sized by the count, so a parameter list cannot disagree with itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "binding/error.hpp"

namespace vx {

// A method's parameter list. Parameters are ordered: positional-only, then
// positional-or-keyword, then keyword-only (after `*`).
struct Signature {
  const char* function;             // "Token.__new__" or "version": messages add "()"
  const char* const* names;         // every parameter name, in order
  const uint8_t* name_lengths;      // their lengths in bytes
  uint8_t count;                    // number of names
  uint8_t positional;               // parameters that may be given by position
  uint8_t required_positional;      // the first N positional parameters are required
  uint8_t positional_only = 0;      // the first N parameters are positional-only
  uint32_t required_keyword_only = 0;  // bit i: keyword-only parameter i is required
};

// Fills out[0..sig.count) with the values given (nullptr where not given).
// A keyword that is not a str fails the call ("keywords must be strings")
// before any other check, in both forms.
// Vectorcall form: `args` holds nargs positional values followed by the values
// of the keywords named in `kwnames` (a tuple or nullptr); all of them are
// borrowed from the caller, who keeps that array as it is for the call.
[[nodiscard]] Void bind_args(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                             PyObject** out);
// tp_new/tp_init form: a positional tuple and a keyword dict (either may be
// nullptr). The tuple's items are borrowed; the dict's values get a new
// reference each, with bit i of `*owned` set for out[i], because a C caller
// can hand over a dict that the arguments' own conversions reach and change.
[[nodiscard]] Void bind_args(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out,
                             uint32_t* owned);

// One bound argument: the value given for a parameter (nullptr when none
// was given) and the parameter's name, which a failed conversion names in
// its note (the conversions of convert.hpp take an Arg as well).
struct Arg {
  PyObject* value;
  std::string_view name;

  // The value, borrowed; nullptr when not given.
  operator PyObject*() const noexcept { return value; }  // NOLINT: implicit on purpose
  // The value when it was given and is not None; nullptr otherwise.
  [[nodiscard]] PyObject* given() const noexcept { return value != Py_None ? value : nullptr; }
};

// A parameter of `Sig` named by a string literal, found at compile time: a
// name the signature lacks does not compile.
template <class Sig>
struct ParamName {
  size_t index;
  template <size_t L>
  consteval ParamName(const char (&name)[L])  // NOLINT: implicit on purpose, a["name"]
      : index(Sig::index_of(std::string_view(name, L - 1))) {}
};

// The values bound to the parameters of `Sig`, taken by name: a["name"].
// The values the binding had to take a reference to (those of a keyword
// dict) are released with the arguments.
template <class Sig>
class BoundArgs {
 public:
  BoundArgs() noexcept = default;
  BoundArgs(const BoundArgs&) = delete;
  BoundArgs& operator=(const BoundArgs&) = delete;
  BoundArgs(BoundArgs&& o) noexcept : values_(o.values_), owned_(std::exchange(o.owned_, 0)) {}
  BoundArgs& operator=(BoundArgs&&) = delete;
  ~BoundArgs() {
    for (size_t i = 0; owned_ != 0; ++i, owned_ >>= 1) {
      if (owned_ & 1u) Py_DECREF(values_[i]);
    }
  }

  [[nodiscard]] Arg operator[](ParamName<Sig> p) const noexcept { return Arg{values_[p.index], Sig::param(p.index)}; }

  PyObject** slots() noexcept { return values_.data(); }
  uint32_t* owned() noexcept { return &owned_; }

 private:
  std::array<PyObject*, Sig::count == 0 ? 1 : Sig::count> values_{};
  uint32_t owned_ = 0;
};

namespace sig_detail {

// A string literal usable as a template argument.
template <size_t L>
struct Literal {
  char text[L];
  consteval Literal(const char (&s)[L]) {  // NOLINT: implicit on purpose
    for (size_t i = 0; i < L; ++i) text[i] = s[i];
  }
  static constexpr size_t size = L - 1;
};

constexpr size_t kMaxParams = 16;

// What a text signature says, laid out in fixed buffers.
template <size_t L>
struct Parsed {
  char names[L] = {};       // parameter names, each followed by NUL
  size_t offsets[kMaxParams] = {};
  size_t lengths[kMaxParams] = {};
  size_t count = 0;
  size_t positional = 0;
  size_t required_positional = 0;
  size_t positional_only = 0;
  uint32_t required_keyword_only = 0;
  char method[L] = {};      // the name before "("
};

consteval bool is_space(char c) { return c == ' '; }

template <size_t L>
consteval Parsed<L> parse(const char (&text)[L]) {
  Parsed<L> p;
  size_t i = 0;
  while (text[i] != '(') {
    if (text[i] == '\0') throw "text signature without parameter list";
    p.method[i] = text[i];
    ++i;
  }
  ++i;
  size_t out = 0;
  bool keyword_only = false;
  bool optional_seen = false;
  while (text[i] != ')') {
    while (is_space(text[i])) ++i;
    size_t start = i;
    while (text[i] != ',' && text[i] != ')' && text[i] != '=') ++i;
    size_t end = i;
    while (end > start && is_space(text[end - 1])) --end;
    bool has_default = false;
    if (text[i] == '=') {
      has_default = true;
      char quote = 0;
      while (quote || (text[i] != ',' && text[i] != ')')) {
        if (text[i] == '"' || text[i] == '\'') quote = quote == text[i] ? 0 : (quote ? quote : text[i]);
        ++i;
      }
    }
    const size_t len = end - start;
    if (len == 1 && text[start] == '*') {
      keyword_only = true;
    } else if (len == 1 && text[start] == '/') {
      p.positional_only = p.count;
    } else if (!(len == 5 && text[start] == '$')) {
      if (p.count == kMaxParams) throw "too many parameters";
      p.offsets[p.count] = out;
      for (size_t k = start; k < end; ++k) p.names[out++] = text[k];
      p.lengths[p.count] = len;
      p.names[out++] = '\0';
      if (keyword_only) {
        if (!has_default) p.required_keyword_only |= 1u << (p.count - p.positional);
      } else {
        ++p.positional;
        if (has_default) {
          optional_seen = true;
        } else {
          if (optional_seen) throw "required positional parameter after an optional one";
          ++p.required_positional;
        }
      }
      ++p.count;
    }
    if (text[i] == ',') ++i;
  }
  return p;
}

consteval size_t length(const char* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace sig_detail

// The parameter list of one constructor, method or function, from its text
// signature. `Owner` is the class name ("" for a module function); a text
// whose name is the class's own is the constructor ("Token.__new__" in
// messages).
template <sig_detail::Literal Owner, sig_detail::Literal Text>
struct SignatureOf {
  static constexpr auto parsed = sig_detail::parse(Text.text);
  static constexpr size_t count = parsed.count;

  static constexpr auto function_name = [] {
    constexpr size_t mlen = sig_detail::length(parsed.method);
    constexpr bool constructor = [] {
      if (mlen != Owner.size) return false;
      for (size_t i = 0; i < mlen; ++i) {
        if (parsed.method[i] != Owner.text[i]) return false;
      }
      return true;
    }();
    std::array<char, Owner.size + 1 + sizeof(Text.text) + 8> out{};
    size_t n = 0;
    if constexpr (Owner.size != 0) {
      for (size_t i = 0; i < Owner.size; ++i) out[n++] = Owner.text[i];
      out[n++] = '.';
    }
    const char* tail = constructor ? "__new__" : parsed.method;
    for (size_t i = 0; tail[i]; ++i) out[n++] = tail[i];
    return out;
  }();

  // The docstring: the text signature and the "\n--\n\n" separator.
  static constexpr auto doc_text = [] {
    std::array<char, sizeof(Text.text) + 5> out{};
    size_t n = 0;
    for (size_t i = 0; i < Text.size; ++i) out[n++] = Text.text[i];
    for (char c : {'\n', '-', '-', '\n', '\n'}) out[n++] = c;
    return out;
  }();
  static constexpr const char* doc = doc_text.data();
  // The method's own name, as the method table wants it.
  static constexpr const char* method = parsed.method;

  static constexpr auto name_table = [] {
    std::array<const char*, count == 0 ? 1 : count> out{};
    for (size_t i = 0; i < count; ++i) out[i] = parsed.names + parsed.offsets[i];
    return out;
  }();

  static constexpr auto length_table = [] {
    std::array<uint8_t, count == 0 ? 1 : count> out{};
    for (size_t i = 0; i < count; ++i) {
      if (parsed.lengths[i] > 255) throw "parameter name too long";
      out[i] = static_cast<uint8_t>(parsed.lengths[i]);
    }
    return out;
  }();

  static constexpr Signature signature{
      .function = function_name.data(),
      .names = name_table.data(),
      .name_lengths = length_table.data(),
      .count = static_cast<uint8_t>(count),
      .positional = static_cast<uint8_t>(parsed.positional),
      .required_positional = static_cast<uint8_t>(parsed.required_positional),
      .positional_only = static_cast<uint8_t>(parsed.positional_only),
      .required_keyword_only = parsed.required_keyword_only,
  };

  // Parameter i's name, as the argument notes want it.
  static constexpr std::string_view param(size_t i) { return {parsed.names + parsed.offsets[i], parsed.lengths[i]}; }
  // The position of the parameter `name`; a name the list lacks stops the
  // compilation.
  static consteval size_t index_of(std::string_view name) {
    for (size_t i = 0; i < count; ++i) {
      if (param(i) == name) return i;
    }
    throw "no parameter of that name";
  }

  using Args = BoundArgs<SignatureOf>;

  // Vectorcall form; `nargsf` may carry PY_VECTORCALL_ARGUMENTS_OFFSET.
  [[nodiscard]] static Result<Args> bind(PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    Args out;
    VX_CHECK(bind_args(signature, args, PyVectorcall_NARGS(nargsf), kwnames, out.slots()));
    return out;
  }
  // tp_new form.
  [[nodiscard]] static Result<Args> bind(PyObject* args, PyObject* kwargs) {
    Args out;
    VX_CHECK(bind_args(signature, args, kwargs, out.slots(), out.owned()));
    return out;
  }
};

}  // namespace vx

#define VX_SIGNATURE(owner, text) ::vx::SignatureOf<owner, text>

// A method table entry for a vectorcall method with keywords.
#define VX_METHOD_DEF(Sig, fn) \
  { Sig::method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)), METH_FASTCALL | METH_KEYWORDS, Sig::doc }
