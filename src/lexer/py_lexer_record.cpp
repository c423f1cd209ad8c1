#include "lexer/py_lexer_record.hpp"

#include "binding/convert.hpp"
#include "binding/strings.hpp"
#include "common/text.hpp"

namespace vx::lex {

Error undefined_state(std::string_view name) {
  return Error::make(PyExc_ValueError, "Undefined lexer state " + quote_name(name));
}

Result<Ref> owner_of(PyLexerEngine& e) {
  Ref owner = e.callback_owner.with([](Ref& o) { return o.share(); });
  return owner ? std::move(owner) : Ref::none();
}

const std::shared_ptr<const std::string>& initial_state_name() {
  static const auto name = std::make_shared<const std::string>("INITIAL");
  return name;
}

std::shared_ptr<const std::string> current_state_of(PyLexerEngine& e) {
  return e.current_state.with([](auto& s) { return s; });
}

// --- states ----------------------------------------------------------------------

void invalidate_plans(PyLexerEngine& e) {
  // The plans die after the cell is left: a plan's rules hold Python objects.
  std::vector<std::shared_ptr<const Plan>> dropped;
  e.states.with([&](StateTable& t) {
    for (auto& [name, st] : t) {
      for (auto& slot : st.plans) {
        if (slot) dropped.push_back(std::move(slot));
        slot.reset();
      }
    }
  });
}

Void define_state(PyLexerEngine& e, const std::string& name, const std::string& kind) {
  if (kind != "inclusive" && kind != "exclusive") {
    return Error::make(PyExc_ValueError, "State kind must be 'inclusive' or 'exclusive', got " + quote_name(kind));
  }
  e.states.with([&](StateTable& t) {
    auto it = t.find(name);
    if (it != t.end()) {
      it->second.kind = kind;
    } else {
      t.emplace(name, StateConfig{kind, {}, {}, {}, {}});
    }
  });
  invalidate_plans(e);
  return ok();
}

bool state_defined(PyLexerEngine& e, std::string_view name) {
  return e.states.with([&](StateTable& t) { return t.find(name) != t.end(); });
}

void ensure_state(PyLexerEngine& e, const std::string& name) {
  if (!state_defined(e, name)) (void)define_state(e, name, "inclusive");
}

Void begin_state(PyLexerEngine& e, const std::string& name) {
  if (!state_defined(e, name)) return undefined_state(name);
  auto text = std::make_shared<const std::string>(name);
  e.current_state.with([&](auto& s) { s = std::move(text); });
  return ok();
}

// --- input -------------------------------------------------------------------------

Result<Ref> replace_input(PyLexerEngine& e, PyObject* d) {
  Ref data = Ref::borrow(d);
  std::shared_ptr<const InputText> text;
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(d, &size)) {
    text = std::make_shared<const InputText>(InputText::from_utf8(std::string(utf8, static_cast<size_t>(size))));
  } else {
    Error failure = Error::pending();
    if (!failure.matches(PyExc_UnicodeEncodeError)) return failure;
    VX_TRY(auto cps, string_codepoints(d));
    text = std::make_shared<const InputText>(InputText::from_code_points(std::move(cps)));
  }
  const uint64_t length = text->length();
  std::shared_ptr<const InputText> old_text = e.input.with([&](auto& in) { return std::exchange(in, std::move(text)); });
  e.length = length;
  Ref old = e.data.with([&](Ref& r) { return std::exchange(r, std::move(data)); });
  e.pos = 0;
  e.lineno = 1;
  auto previous_state = e.current_state.with([](auto& s) { return std::exchange(s, initial_state_name()); });
  std::vector<std::string> old_stack = e.state_stack.with([](auto& st) { return std::exchange(st, {}); });
  e.input_revision += 1;
  return old;
}

// --- scan plans ----------------------------------------------------------------------

std::shared_ptr<const Plan> plan_for(PyLexerEngine& e, const std::string& name, bool ascii) {
  const int slot = ascii ? 1 : 0;
  std::vector<RulePtr> merged;
  bool cached = false;
  std::shared_ptr<const Plan> plan = e.states.with([&](StateTable& t) -> std::shared_ptr<const Plan> {
    auto it = t.find(name);
    if (it == t.end()) internal_failure("scan plan of an undefined lexer state");
    if (it->second.plans[slot]) {
      cached = true;
      return it->second.plans[slot];
    }
    const StateConfig& st = it->second;
    auto initial = t.find(std::string_view("INITIAL"));
    if (merges_initial_rules(name, st.kind, initial != t.end())) {
      merged = merge_rule_lists<RulePtr>(initial->second.rules, st.rules);
    } else {
      merged = st.rules;
    }
    return nullptr;
  });
  if (cached) return plan;
  plan = std::make_shared<const Plan>(build_scan_plan<RulePtr>(merged, ascii));
  std::shared_ptr<const Plan> replaced = e.states.with([&](StateTable& t) {
    auto it = t.find(name);
    if (it == t.end()) return std::shared_ptr<const Plan>();
    return std::exchange(it->second.plans[slot], plan);
  });
  return plan;
}

}  // namespace vx::lex
