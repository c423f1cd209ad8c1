// The token loop of LexerEngine: one token (or what a callback returned) per
// call of next_token.
#include <cstring>
#include <initializer_list>
#include <limits>
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

// The state named `name` (the engine's current-state string) in `t`, or
// nullptr; call inside the state table's cell. The cache keeps the name it
// was made for alive, so no other string can take its address.
StateConfig* find_current_state(PyLexerEngine& e, StateTable& t, const std::string* name) {
  if (e.cached_state && e.cached_state_name.get() == name && e.cached_generation == e.table_generation) {
    return e.cached_state;
  }
  auto it = t.find(*name);
  if (it == t.end()) return nullptr;
  e.cached_state_name = current_state_of(e);
  e.cached_state = &it->second;
  e.cached_generation = e.table_generation;
  return e.cached_state;
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

// What a scan stands on: the current state's name, the input and the plan.
// Until the scan first calls into Python nothing can replace them in the
// engine, so they are read through plain pointers; pin() takes the scan's
// own references to them before any such call.
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

}  // namespace

Result<Ref> next_token(PyLexerEngine& e, StalledErrorResult stalled) {
  for (;;) {
    // 1. End of input.
    const uint64_t length = e.length;
    if (e.pos >= length) return Ref();

    // 2. The current state, 3. the characters it ignores, and 4. the scan's
    // own snapshots: the state's error function and cached plan, the input.
    ScanGround ground;
    ground.state_name = e.current_state.with([](auto& s) { return s.get(); });
    ground.input = e.input.with([](auto& in) { return in.get(); });
    const InputText& input = *ground.input;
    const int slot = input.is_ascii() ? 1 : 0;
    bool defined = true;
    Ref error_func;
    Outcome<IgnoreSkip> skipped = e.states.with([&](StateTable& t) -> Outcome<IgnoreSkip> {
      StateConfig* st = find_current_state(e, t, ground.state_name);
      if (!st) {
        defined = false;
        return IgnoreSkip{0, 0, false};
      }
      error_func = st->error_func.share();
      ground.plan_slot = &st->plans[slot];
      ground.plan = st->plans[slot].get();
      return skip_ignored(input, e.pos, e.lineno, st->ignore);
    });
    if (!defined) return undefined_state(*ground.state_name);
    if (!skipped.ok()) return std::move(skipped).error();
    e.pos = skipped->pos;
    e.lineno = skipped->lineno;
    if (skipped->at_end) return Ref();
    const uint64_t pos = skipped->pos;
    const uint64_t lineno = skipped->lineno;

    const std::string& text = input.utf8();
    const size_t byte_pos = input.byte_offset(pos);
    const bool utf8 = input.text_is_utf8();
    Ref data = e.data.with([](Ref& r) { return r.share(); });
    if (!data) internal_failure("lexer input object missing below the input length");
    const uint64_t revision = e.input_revision;
    if (!ground.plan) {
      ground.own_plan = plan_for(e, *ground.state_name, slot == 1);
      ground.plan = ground.own_plan.get();
    }

    // 5. The plan's steps, in order; the first match wins.
    std::optional<Candidate> candidate;
    bool restart = false;
    auto try_python = [&](const CompiledRule& rule) -> Void {
      if (utf8 && !python_rule_may_match(rule, input, byte_pos)) return ok();
      ground.pin(e);
      VX_TRY(Ref position, py_int(pos));
      VX_TRY(Ref m, call(rule.match.get(), data.get(), position.get()));
      if (m.get() != Py_None) {
        VX_TRY(Ref zero, py_int(0));
        if (rule.pretest) {
          // A compiled re pattern (the only kind with a looser pattern):
          // its match starts at the position and group(0) is the text up
          // to its end, so the length of that text gives the end.
          VX_TRY(Ref value, call_method(names::interned<kGroupName>(), {m.get(), zero.get()}));
          if (!PyUnicode_Check(value.get())) internal_failure("re match of a str gave a group that is no str");
          const auto length = static_cast<uint64_t>(PyUnicode_GET_LENGTH(value.get()));
          candidate = Candidate{&rule, pos + length, std::move(value)};
        } else {
          VX_TRY(Ref end_obj, call_method(names::end(), {m.get()}));
          VX_TRY(uint64_t end, to_u64(end_obj.get(), ""));
          VX_TRY(Ref value, call_method(names::interned<kGroupName>(), {m.get(), zero.get()}));
          candidate = Candidate{&rule, end, std::move(value)};
        }
      }
      // A match method that moved the scan's ground abandons the scan.
      const bool same_state =
          e.current_state.with([&](auto& s) { return s.get() == ground.state_name || *s == *ground.state_name; });
      if (e.input_revision != revision || e.pos != pos || !same_state) {
        candidate.reset();
        restart = true;
      }
      return ok();
    };
    for (const Step& step : ground.plan->steps) {
      if (step.kind == Step::Kind::Group && utf8) {
        if (auto m = match_group_step(*step.group, input, pos, byte_pos)) {
          VX_TRY(Ref value, matched_text(input, std::string_view(text).substr(byte_pos, m->end_byte - byte_pos)));
          candidate = Candidate{step.rules[m->rule].get(), m->end_pos, std::move(value)};
          break;
        }
        continue;
      }
      for (const RulePtr& rule : step.rules) {
        VX_CHECK(try_python(*rule));
        if (restart || candidate) break;
      }
      if (restart || candidate) break;
    }
    if (restart) continue;

    // 6. A rule matched.
    if (candidate) {
      const CompiledRule& rule = *candidate->rule;
      if (candidate->end == pos) {
        return raise_lex_error(
            "Rule " + quote_name(*rule.name) + " matched an empty string at pos " + std::to_string(pos), data.get(),
            pos, length);
      }
      e.pos = candidate->end;
      // Making the token may run the collector, and with it any Python code:
      // what is needed of the rule is taken first.
      Ref func = rule.func.share();
      VX_TRY(Ref owner, owner_of(e));
      VX_TRY(Ref tok, create_token(rule.name, std::move(candidate->value), std::move(owner), lineno, pos,
                                   candidate->end));
      if (!func) return tok;
      VX_TRY(Ref result, checked(PyObject_CallOneArg(func.get(), tok.get())));
      if (result.get() != Py_None) return result;
      continue;  // the token is dropped; scan on from the advanced position
    }

    // 7. A literal character. (The input is the scan's still: pinned if
    // Python code ran.)
    const char32_t cp = input.code_point(pos);
    const bool literal = e.literals.with([&](auto& set) { return set.count(cp) != 0; });
    if (literal) {
      e.pos = pos + 1;
      if (cp < 0xD800 || cp > 0xDFFF) {
        VX_TRY(Ref owner, owner_of(e));
        VX_TRY(Ref value, checked(PyUnicode_FromOrdinal(static_cast<int>(cp))));
        std::shared_ptr<const std::string> name;
        if (cp < 128) {
          auto& slot = e.ascii_literal_names[cp];
          if (!slot) slot = std::make_shared<const std::string>(1, static_cast<char>(cp));
          name = slot;
        } else {
          std::string ch;
          append_utf8(ch, cp);
          name = std::make_shared<const std::string>(std::move(ch));
        }
        return create_token(std::move(name), std::move(value), std::move(owner), lineno, pos, pos + 1);
      }
      VX_TRY(Ref chr, import_attr("builtins", "chr"));
      VX_TRY(Ref code, py_int(cp));
      VX_TRY(Ref c, checked(PyObject_CallOneArg(chr.get(), code.get())));
      VX_TRY(Ref cls, import_attr("vexlor.core.tokens", "Token"));
      VX_TRY(Ref owner, owner_of(e));  // read when it is used: the import may run Python code
      VX_TRY(Ref line, py_int(lineno));
      VX_TRY(Ref start, py_int(pos));
      VX_TRY(Ref stop, py_int(pos + 1));
      return checked(PyObject_CallFunctionObjArgs(cls.get(), c.get(), c.get(), line.get(), start.get(), stop.get(),
                                                  owner.get(), nullptr));
    }

    // 8. The state's error function.
    if (error_func) {
      VX_TRY(Ref cls, import_attr("vexlor.core.tokens", "_LazyErrorToken"));
      VX_TRY(Ref owner, owner_of(e));
      VX_TRY(Ref start, py_int(pos));
      VX_TRY(Ref line, py_int(lineno));
      VX_TRY(Ref len, py_int(length));
      VX_TRY(Ref err_tok, checked(PyObject_CallFunctionObjArgs(cls.get(), data.get(), start.get(), line.get(),
                                                               owner.get(), len.get(), nullptr)));
      VX_TRY(Ref result, checked(PyObject_CallOneArg(error_func.get(), err_tok.get())));
      const bool unmoved = e.input_revision == revision && e.pos == pos;
      if (result.get() != Py_None) {
        if (unmoved && stalled == StalledErrorResult::Refuse) {
          result = Ref();
          return raise_illegal_character(cp, lineno, data.get(), pos, length);
        }
        return result;
      }
      if (unmoved) e.pos = pos + 1;
      continue;
    }

    // 9. Nothing covers the character.
    return raise_illegal_character(cp, lineno, data.get(), pos, length);
  }
}

}  // namespace vx::lex
