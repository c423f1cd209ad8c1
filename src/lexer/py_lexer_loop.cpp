// The token loop of LexerEngine: one token (or what a callback returned) per
// call of next_token.
#include <cstring>
#include <initializer_list>
#include <optional>

#include "binding/convert.hpp"
#include "binding/imports.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/strings.hpp"
#include "common/text.hpp"
#include "lexer/py_lexer_record.hpp"
#include "lexer/py_token.hpp"

namespace vx::lex {
namespace {

inline constexpr char kGroupName[] = "group";

// args[0].name(*args[1:]), by vectorcall; `name` is an interned name that
// may be nullptr with its error pending.
Result<Ref> call_method(PyObject* name, std::initializer_list<PyObject*> args) {
  if (!name) return Error::pending();
  return checked(PyObject_VectorcallMethod(name, std::data(args), args.size(), nullptr));
}

// Raises LexError(message, data[pos:length], pos): the input is sliced
// before the package module is imported, on every path.
Result<Ref> raise_lex_error(const std::string& message, PyObject* data, uint64_t pos, uint64_t length) {
  VX_TRY(Ref rest, checked(PySequence_GetSlice(data, static_cast<Py_ssize_t>(pos), static_cast<Py_ssize_t>(length))));
  VX_TRY(Ref msg, py_str(message));
  VX_TRY(Ref position, py_int(pos));
  return package_exception("vexlor.core.lexer_engine", "LexError", {msg.get(), rest.get(), position.get()});
}

// The text a native match covers, as a new str; pure-ASCII text needs no
// decoding (a single character is the interpreter's shared one, as a
// decoder would give it).
Result<Ref> matched_text(const InputText& input, std::string_view bytes) {
  if (!input.is_ascii() || bytes.size() < 2) return py_str(bytes);
  PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(bytes.size()), 127);
  if (!s) return Error::pending();
  std::memcpy(PyUnicode_1BYTE_DATA(s), bytes.data(), bytes.size());
  return Ref::steal(s);
}

// Raises LexError "Illegal character ..." for code point `cp` at `pos`.
Result<Ref> raise_illegal_character(char32_t cp, uint64_t lineno, PyObject* data, uint64_t pos, uint64_t length) {
  return raise_lex_error(
      "Illegal character " + quote_char(cp) + " at line " + std::to_string(lineno) + ", pos " + std::to_string(pos),
      data, pos, length);
}

// One match found by a scan step: the rule (held by the scan's plan), its
// end position and the matched text object.
struct Candidate {
  const CompiledRule* rule;
  uint64_t end;
  Ref value;
};
using MaybeCandidate = std::optional<Candidate>;

// What a scan stands on: the current state's name, the input and the plan.
// Only Python code can replace them in the engine: a call into Python, or a
// release (binding/ref.hpp says what runs Python code; making an object,
// such as a token's text, does not). So they are read through plain
// pointers, and the rule is: the scan reads its ground after a call into
// Python or a release of its own only once it holds it. pin() takes the
// scan's own references before the calls after which the ground is read (a
// match method, the error function); the calls after which the scan reads
// nothing of its ground (the rule's function, the package's Token for a
// surrogate literal, LexError) run unpinned. A scan lets go of what the
// previous scan held before it reads its own ground.
struct ScanGround {
  const std::string* state_name = nullptr;
  const InputText* input = nullptr;
  const Plan* plan = nullptr;
  const std::shared_ptr<const Plan>* plan_slot = nullptr;  // the state's slot holding `plan`
  std::shared_ptr<const std::string> own_state_name;
  std::shared_ptr<const InputText> own_input;
  std::shared_ptr<const Plan> own_plan;  // set at once when the scan built the plan

  void pin(PyLexerEngine& e) {
    if (own_input) return;
    own_state_name = current_state_of(e);
    own_input = e.input.with([](auto& in) { return in; });
    if (!own_plan) own_plan = e.states.with([&](StateTable&) { return *plan_slot; });
    if (own_state_name.get() != state_name || own_input.get() != input || own_plan.get() != plan)
      internal_failure("lexer scan ground replaced before the scan called into Python");
  }
};

// What the rules of a scan found: a match, none, or neither because a match
// method moved the scan's ground, which drops the scan.
enum class Found { Nothing, Match, GroundMoved };

// One call of next_token: scans follow one another from the engine's
// position until one of them yields a result. A scan starts afresh from
// whatever the engine then holds whenever a callback has moved its ground.
class LexRun {
 public:
  LexRun(PyLexerEngine& e, StalledErrorResult stalled) noexcept : e_(e), stalled_(stalled) {}

  Result<Ref> run() {
    for (;;) {
      VX_TRY(const bool scanning, begin_scan());
      if (!scanning) return Ref();  // end of input
      VX_TRY(Ref result, scan());
      if (result) return result;
      drop_scan();
    }
  }

 private:
  // --- a scan ----------------------------------------------------------------------

  // One scan from the position begin_scan found: its result, or an empty
  // Ref when scanning goes on (a token or a character dropped by a
  // function, a ground moved by a match method).
  Result<Ref> scan() {
    VX_TRY(const Found found, match_rules());
    if (found == Found::GroundMoved) return Ref();
    if (found == Found::Match) return rule_result();
    if (is_literal()) return literal_token();
    if (error_func_) return error_function_result();
    return illegal_character();
  }

  // The end test, the current state, the characters it ignores, and the
  // scan's snapshots: the state's error function and plan, the input
  // object and revision. False at the end of the input.
  Result<bool> begin_scan() {
    length_ = e_.length;
    if (e_.pos >= length_) return false;
    const std::shared_ptr<const std::string>& state = e_.current_state.with([](auto& s) -> auto& { return s; });
    ground_.state_name = state.get();
    ground_.input = e_.input.with([](auto& in) { return in.get(); });
    const InputText& input = *ground_.input;
    const int slot = input.is_ascii() ? 1 : 0;
    bool defined = true;
    Ref error_func;
    Outcome<IgnoreSkip> skipped = e_.states.with([&](StateTable& t) -> Outcome<IgnoreSkip> {
      StateConfig* st = e_.state_cache.find(t, state);
      if (!st) {
        defined = false;
        return IgnoreSkip{0, 0, false};
      }
      error_func = st->error_func.share();
      ground_.plan_slot = &st->plans[slot];
      ground_.plan = st->plans[slot].get();
      return skip_ignored(input, e_.pos, e_.lineno, st->ignore);
    });
    if (!defined) return undefined_state(*ground_.state_name);
    if (!skipped.ok()) return std::move(skipped).error();
    e_.pos = skipped->pos;
    e_.lineno = skipped->lineno;
    if (skipped->at_end) return false;
    pos_ = skipped->pos;
    lineno_ = skipped->lineno;
    error_func_ = std::move(error_func);
    byte_pos_ = input.byte_offset(pos_);
    data_ = e_.data.with([](Ref& r) { return r.share(); });
    if (!data_) internal_failure("lexer input object missing below the input length");
    revision_ = e_.input_revision;
    if (!ground_.plan) {
      ground_.own_plan = plan_for(e_, *ground_.state_name, slot == 1);
      ground_.plan = ground_.own_plan.get();
    }
    return true;
  }

  // What a scan held, let go of before the next one begins. Any of these
  // releases may run Python code that gives the engine new input, rules or
  // state: the next scan reads the engine only after all of them.
  void drop_scan() {
    candidate_.reset();
    ground_ = ScanGround();
    error_func_ = Ref();
    data_ = Ref();
  }

  // --- rules -----------------------------------------------------------------------

  // The plan's steps in order, the first match winning: a group of native
  // rules is searched natively (NativeGroup, lexer/re2_matcher.hpp), any
  // other rule is a call of its match method.
  Result<Found> match_rules() {
    const bool utf8 = ground_.input->text_is_utf8();
    for (const Step& step : ground_.plan->steps) {
      if (step.kind == Step::Kind::Group && utf8) {
        VX_TRY(const bool found, native_search(step));
        if (found) return Found::Match;
        continue;
      }
      for (const RulePtr& rule : step.rules) {
        if (utf8 && !python_rule_may_match(*rule, *ground_.input, byte_pos_)) continue;
        VX_TRY(const Found found, python_match(*rule));
        if (found != Found::Nothing) return found;
      }
    }
    return Found::Nothing;
  }

  // A group of native rules at the scan position. The step belongs to the
  // plan, which the scan may not hold yet: making the matched text runs no
  // Python code, so the step is still there after it.
  Result<bool> native_search(const Step& step) {
    const InputText& input = *ground_.input;
    auto m = match_group_step(*step.group, input, pos_, byte_pos_);
    if (!m) return false;
    VX_TRY(Ref value, matched_text(input, std::string_view(input.utf8()).substr(byte_pos_, m->end_byte - byte_pos_)));
    candidate_ = Candidate{step.rules[m->rule].get(), m->end_pos, std::move(value)};
    return true;
  }

  // A Python rule's match at the scan position. The match object and the
  // other objects of the call are released before the ground is looked at,
  // so that nothing their release does goes unseen; the matched text is
  // kept for the token, or released when python_match returns on moved
  // ground, which drops the scan anyway. Kept out of line: the scan of
  // native rules stays small enough to be inlined whole.
  [[gnu::noinline]] Result<Found> python_match(const CompiledRule& rule) {
    ground_.pin(e_);
    VX_TRY(MaybeCandidate found, call_match(rule));
    if (input_or_position_moved() || state_changed()) return Found::GroundMoved;  // `found` goes on return
    if (!found) return Found::Nothing;
    candidate_ = std::move(found);
    return Found::Match;
  }

  Result<MaybeCandidate> call_match(const CompiledRule& rule) {
    VX_TRY(Ref position, py_int(pos_));
    VX_TRY(Ref m, call(rule.match.get(), data_.get(), position.get()));
    if (m.get() == Py_None) return MaybeCandidate();
    VX_TRY(Ref zero, py_int(0));
    if (rule.pretest) {
      // A compiled re pattern (the only kind with a looser pattern): its
      // match starts at the position and group(0) is the text up to its
      // end, so the length of that text gives the end.
      VX_TRY(Ref value, call_method(names::interned<kGroupName>(), {m.get(), zero.get()}));
      if (!PyUnicode_Check(value.get())) internal_failure("re match of a str gave a group that is no str");
      const auto length = static_cast<uint64_t>(PyUnicode_GET_LENGTH(value.get()));
      return MaybeCandidate(Candidate{&rule, pos_ + length, std::move(value)});
    }
    VX_TRY(Ref end_obj, call_method(names::end(), {m.get()}));
    VX_TRY(uint64_t end, to_u64(end_obj.get(), ""));
    VX_TRY(Ref value, call_method(names::interned<kGroupName>(), {m.get(), zero.get()}));
    return MaybeCandidate(Candidate{&rule, end, std::move(value)});
  }

  // The token of the rule that matched, or what the rule's function made
  // of it; an empty Ref when the function dropped it.
  Result<Ref> rule_result() {
    const CompiledRule& rule = *candidate_->rule;
    const uint64_t end = candidate_->end;
    if (end == pos_) {
      return raise_lex_error("Rule " + quote_name(*rule.name) + " matched an empty string at pos " +
                                 std::to_string(pos_),
                             data_.get(), pos_, length_);
    }
    e_.pos = end;
    // The function is held for its own call, which may replace the rules
    // that hold it; after the call nothing of the scan's ground is read.
    Ref func = rule.func.share();
    VX_TRY(Ref tok, make_token(rule.name, std::move(candidate_->value), end));
    if (!func) return tok;
    VX_TRY(Ref result, checked(PyObject_CallOneArg(func.get(), tok.get())));
    if (result.get() == Py_None) return Ref();
    return result;
  }

  // --- literals, the error function ------------------------------------------------

  // The character at the scan position (the input is the scan's still: its
  // own reference, once Python code ran).
  char32_t current() const { return ground_.input->code_point(pos_); }

  bool is_literal() {
    const char32_t cp = current();
    return e_.literals.with([&](auto& set) { return set.count(cp) != 0; });
  }

  Result<Ref> literal_token() {
    const char32_t cp = current();
    e_.pos = pos_ + 1;
    if (cp >= 0xD800 && cp <= 0xDFFF) return surrogate_literal_token(cp);
    VX_TRY(Ref value, checked(PyUnicode_FromOrdinal(static_cast<int>(cp))));
    return make_token(literal_name(cp), std::move(value), pos_ + 1);
  }

  // The type name of the literal `cp`; those of ASCII literals are made once.
  std::shared_ptr<const std::string> literal_name(char32_t cp) {
    if (cp < 128) {
      auto& slot = e_.ascii_literal_names[cp];
      if (!slot) slot = std::make_shared<const std::string>(1, static_cast<char>(cp));
      return slot;
    }
    std::string ch;
    append_utf8(ch, cp);
    return std::make_shared<const std::string>(std::move(ch));
  }

  // A lone surrogate cannot be the text of a native token's type: the
  // package's Python-level Token class makes that token.
  Result<Ref> surrogate_literal_token(char32_t cp) {
    VX_TRY(Ref chr, import_attr("builtins", "chr"));
    VX_TRY(Ref code, py_int(cp));
    VX_TRY(Ref c, checked(PyObject_CallOneArg(chr.get(), code.get())));
    VX_TRY(Ref cls, package_token_class());
    VX_TRY(Ref owner, owner_of(e_));  // read when it is used: the look-up may run Python code
    VX_TRY(Ref line, py_int(lineno_));
    VX_TRY(Ref start, py_int(pos_));
    VX_TRY(Ref stop, py_int(pos_ + 1));
    return checked(PyObject_CallFunctionObjArgs(cls.get(), c.get(), c.get(), line.get(), start.get(), stop.get(),
                                                owner.get(), nullptr));
  }

  // What the state's error function returns for the character; an empty Ref
  // when it returned None, after which a position it left alone moves past
  // the character.
  Result<Ref> error_function_result() {
    ground_.pin(e_);  // the character may be read after the function ran
    VX_TRY(Ref cls, import_attr("vexlor.core.tokens", "_LazyErrorToken"));
    VX_TRY(Ref owner, owner_of(e_));
    VX_TRY(Ref start, py_int(pos_));
    VX_TRY(Ref line, py_int(lineno_));
    VX_TRY(Ref len, py_int(length_));
    VX_TRY(Ref err_tok, checked(PyObject_CallFunctionObjArgs(cls.get(), data_.get(), start.get(), line.get(),
                                                             owner.get(), len.get(), nullptr)));
    VX_TRY(Ref result, checked(PyObject_CallOneArg(error_func_.get(), err_tok.get())));
    const bool unmoved = !input_or_position_moved();
    if (result.get() != Py_None) {
      // A refused result goes after the error for its character is made.
      if (unmoved && stalled_ == StalledErrorResult::Refuse) return illegal_character();
      return result;
    }
    if (unmoved) e_.pos = pos_ + 1;
    return Ref();
  }

  Result<Ref> illegal_character() {
    return raise_illegal_character(current(), lineno_, data_.get(), pos_, length_);
  }

  // --- shared steps ---------------------------------------------------------------

  // A native token of the scan, from its position to `end`, owned by the
  // engine's callback owner.
  Result<Ref> make_token(std::shared_ptr<const std::string> type, Ref value, uint64_t end) {
    VX_TRY(Ref owner, owner_of(e_));
    return create_token(std::move(type), std::move(value), std::move(owner), lineno_, pos_, end);
  }

  // Whether a callback moved the scan's ground. Every call into Python may
  // give the engine new input (input, restore_state, tokenize) or move its
  // position (pos, skip, a nested token()), and a match method may also
  // change the state (begin, push_state, pop_state); what the scan found
  // since was found on ground that is no longer there. Entering the state
  // the scan is in again changes nothing.
  bool input_or_position_moved() const { return e_.input_revision != revision_ || e_.pos != pos_; }
  bool state_changed() {
    return !e_.current_state.with(
        [&](auto& s) { return s.get() == ground_.state_name || *s == *ground_.state_name; });
  }

  PyLexerEngine& e_;
  const StalledErrorResult stalled_;
  // The current scan.
  ScanGround ground_;
  uint64_t length_ = 0;
  uint64_t pos_ = 0;      // after the ignored characters
  uint64_t lineno_ = 0;   // after the ignored characters
  size_t byte_pos_ = 0;   // of pos_ in the text
  uint64_t revision_ = 0;
  Ref data_;
  Ref error_func_;
  MaybeCandidate candidate_;
};

}  // namespace

Result<Ref> next_token(PyLexerEngine& e, StalledErrorResult stalled) { return LexRun(e, stalled).run(); }

}  // namespace vx::lex
