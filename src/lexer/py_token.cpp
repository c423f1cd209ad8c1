#include "lexer/py_token.hpp"

#include <limits>

#include "binding/args.hpp"
#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "binding/imports.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"
#include "binding/recursion.hpp"
#include "binding/strings.hpp"
#include "binding/type_def.hpp"
#include "common/text.hpp"

namespace vx {
namespace {

TypeCell g_token_type;
WatchedAttr g_python_token_class("vexlor.core.tokens", "Token");

PyToken& rec(PyObject* self) { return unbox<PyToken>(self); }

// --- construction ----------------------------------------------------------

using kNew = VX_SIGNATURE("Token", "Token(tok_type, value, lineno=1, lexpos=0, end=None, lexer=None)");

Result<Ref> make_token(PyTypeObject* tp, std::shared_ptr<const std::string> type, Ref value, Ref lexer,
                       uint64_t lineno, uint64_t lexpos, uint64_t end) {
  VX_TRY(Ref obj, new_box<PyToken>(tp));
  PyToken& r = rec(obj.get());
  r.type = std::move(type);
  r.value = std::move(value);
  r.lexer = lexer ? std::move(lexer) : Ref::none();
  r.lineno = lineno;
  r.lexpos = lexpos;
  r.end = end;
  return obj;
}

PyObject* token_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kNew::Args a, kNew::bind(args, kwargs));
    VX_TRY(auto type, to_shared_text(a["tok_type"]));
    PyObject* value = a["value"];
    VX_TRY(const uint64_t lineno, to_u64_or(a["lineno"], 1));
    VX_TRY(const uint64_t lexpos, to_u64_or(a["lexpos"], 0));
    uint64_t end = 0;
    if (a["end"].given()) {
      VX_TRY(end, to_u64(a["end"]));
    } else {
      // The value's length in code points (a lone surrogate counts as one);
      // any other value counts as one position.
      const uint64_t length = PyUnicode_Check(value) ? static_cast<uint64_t>(PyUnicode_GET_LENGTH(value)) : 1;
      if (lexpos > std::numeric_limits<uint64_t>::max() - length) {
        return Error::make(PyExc_OverflowError, "token end exceeds the counter range");
      }
      end = lexpos + length;
    }
    Ref lexer = Ref::borrow(a["lexer"].given());
    return make_token(tp, std::move(type), Ref::borrow(value), std::move(lexer), lineno, lexpos, end);
  });
}

// --- properties --------------------------------------------------------------

// A rule function that retypes its token often writes the name it already
// has (an identifier that is no keyword): the shared name then stays.
void store_type(PyToken& r, std::string text) {
  if (*r.type != text) r.type = std::make_shared<const std::string>(std::move(text));
}
auto utf8_arg(const char* note) {
  return [note](PyObject* v) { return to_utf8(v, note); };
}

PyObject* get_type(PyObject* self, void*) {
  return get_property<PyToken>(self, [](PyToken& r) { return py_str(*r.type); });
}
int set_type(PyObject* self, PyObject* v, void*) {
  return set_property<PyToken>(self, v, utf8_arg("val"), store_type);
}
int set_sym_type(PyObject* self, PyObject* v, void*) {
  return set_property<PyToken>(self, v, utf8_arg("value"), store_type);
}
PyObject* get_value(PyObject* self, void*) {
  return get_property<PyToken>(self, [](PyToken& r) -> Result<Ref> { return r.value.share(); });
}
int set_value(PyObject* self, PyObject* v, void*) {
  return set_property<PyToken>(self, v, object_arg, [](PyToken& r, Ref o) { r.value = std::move(o); });
}
PyObject* get_lexer(PyObject* self, void*) {
  return get_property<PyToken>(self, [](PyToken& r) -> Result<Ref> { return r.lexer.share(); });
}
int set_lexer(PyObject* self, PyObject* v, void*) {
  return set_property<PyToken>(self, v, object_arg, [](PyToken& r, Ref o) { r.lexer = std::move(o); });
}
VX_U64_PROPERTY(PyToken, get_lineno, set_lineno, lineno, "lineno")
VX_U64_PROPERTY(PyToken, get_lexpos, set_lexpos, lexpos, "lexpos")
VX_U64_PROPERTY(PyToken, get_index, set_index, lexpos, "val")
VX_U64_PROPERTY(PyToken, get_end, set_end, end, "end")

PyGetSetDef kGetSet[] = {
    {"value", get_value, set_value, nullptr, nullptr},
    {"lineno", get_lineno, set_lineno, nullptr, nullptr},
    {"lexpos", get_lexpos, set_lexpos, nullptr, nullptr},
    {"end", get_end, set_end, nullptr, nullptr},
    {"lexer", get_lexer, set_lexer, nullptr, nullptr},
    {"type", get_type, set_type, nullptr, nullptr},
    {"sym_type", get_type, set_sym_type, nullptr, nullptr},
    {"index", get_index, set_index, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- printed form and equality -------------------------------------------------
//
// Both recurse through the token's value, which may be a token again: the
// slots keep only a few words on the stack while the value is rendered or
// compared (see binding/recursion.hpp), and do the rest in functions of
// their own.

// The printed form, once the value's str() is known (`shown`; empty with
// its exception pending when str() failed).
[[gnu::noinline]] PyObject* token_text(const PyToken& r, Ref shown) {
  return boundary([&]() -> Result<Ref> {
    std::string out = "Token(type=" + quote_name(*r.type) + ", value=" + display_text(r.value.get(), std::move(shown)) +
                      ", lineno=" + std::to_string(r.lineno) + ", pos=" + std::to_string(r.lexpos) + ")";
    return py_str(out);
  });
}

PyObject* token_repr(PyObject* self) {
  PyToken& r = rec(self);
  if (!r.borrow.try_shared()) return refuse_shared();
  SharedGuard guard(&r.borrow);
  return token_text(r, Ref::steal(nested_str(r.value.get())));
}

PyObject* truth_object(int t) noexcept { return t < 0 ? nullptr : PyBool_FromLong(t); }

// Token == other for an `other` that is no token readable now: compared
// with the package's Python-level token class by its attributes. Returns
// other's value when the values decide; otherwise an empty Ref, and
// `*answer` holds the result (nullptr with the exception pending).
[[gnu::noinline]] Ref package_token_value(const PyToken& r, PyObject* other, PyObject** answer) noexcept {
  Ref value;
  *answer = boundary([&]() -> Result<Ref> {
    VX_TRY(Ref cls, g_python_token_class.get());
    const int is = PyObject_IsInstance(other, cls.get());
    if (is < 0) return Error::pending();
    if (!is) return Ref::borrow(Py_NotImplemented);
    VX_TRY(Ref my_type, py_str(*r.type));
    VX_TRY(Ref other_type, get_attr(other, names::type()));
    const int same_type = nested_equal(my_type.get(), other_type.get());
    if (same_type < 0) return Error::pending();
    if (!same_type) return py_bool(false);
    VX_TRY(value, get_attr(other, names::value()));
    return Ref();
  });
  return value;
}

// Token == other: Py_True, Py_False or Py_NotImplemented.
PyObject* token_equals(PyObject* self, PyObject* other) {
  PyToken& r = rec(self);
  if (!r.borrow.try_shared()) return refuse_shared();
  SharedGuard guard(&r.borrow);
  if (is_token(other)) {
    PyToken& o = rec(other);
    if (o.borrow.try_shared()) {
      SharedGuard other_guard(&o.borrow);
      if (*r.type != *o.type) Py_RETURN_FALSE;
      return truth_object(nested_equal(r.value.get(), o.value.get()));
    }
  }
  // Any other object, or a token being written right now.
  PyObject* answer = nullptr;
  Ref other_value = package_token_value(r, other, &answer);
  if (!other_value) return answer;
  return truth_object(nested_equal(r.value.get(), other_value.get()));
}

// Token == None, which iter(lexer.token, None) asks of every token, when
// the package's class is known without a look-up: the answer token_equals
// gives, NotImplemented, is that of the instance test of None against a
// class of the plain metaclass, which holds only for object and NoneType.
// False when the full way must answer.
bool none_is_no_token(PyObject* self) noexcept {
  if (rec(self).borrow.held_exclusively()) return false;  // the full way reports it
  PyObject* cls = g_python_token_class.peek();
  return cls && PyType_CheckExact(cls) && cls != reinterpret_cast<PyObject*>(&PyBaseObject_Type) &&
         cls != reinterpret_cast<PyObject*>(Py_TYPE(Py_None));
}

// Token != other: the negation of a full equality, reflected and identity
// fallbacks included. Out of line, so that == keeps its short path.
[[gnu::noinline]] PyObject* token_not_equal(PyObject* self, PyObject* other) {
  const Ref eq = Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
  if (!eq) return nullptr;
  const int t = PyObject_IsTrue(eq.get());
  return truth_object(t < 0 ? -1 : !t);
}

PyObject* token_richcompare(PyObject* self, PyObject* other, int op) {
  switch (op) {
    case Py_EQ:
      if (other == Py_None && none_is_no_token(self)) Py_RETURN_NOTIMPLEMENTED;
      return token_equals(self, other);
    case Py_NE:
      return token_not_equal(self, other);
    default:
      Py_RETURN_NOTIMPLEMENTED;
  }
}

// --- garbage collection ----------------------------------------------------------

int token_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  PyToken& r = rec(self);
  if (r.borrow.held_exclusively()) return 0;
  Py_VISIT(r.value.get());
  Py_VISIT(r.lexer.get());
  return 0;
}

int token_clear(PyObject* self) {
  return clear_record<PyToken>(self, [](PyToken& r) {
    return std::pair(std::exchange(r.value, Ref::none()), std::exchange(r.lexer, Ref::none()));
  });
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(token_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<PyToken>)},
    {Py_tp_traverse, reinterpret_cast<void*>(token_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(token_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(token_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(token_richcompare)},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.Token",
    .basicsize = sizeof(Box<PyToken>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> token_type() { return g_token_type.get(kSpec, "Token"); }

Result<Ref> create_token(std::shared_ptr<const std::string> type, Ref value, Ref lexer, uint64_t lineno,
                         uint64_t lexpos, uint64_t end) {
  VX_TRY(PyTypeObject * tp, token_type());
  return make_token(tp, std::move(type), std::move(value), std::move(lexer), lineno, lexpos, end);
}

Result<Ref> package_token_class() { return g_python_token_class.get(); }

bool is_token(PyObject* obj) noexcept {
  PyTypeObject* tp = g_token_type.peek();
  return tp && Py_IS_TYPE(obj, tp);
}

Result<TokenFields> read_token(PyObject* obj) {
  PyToken& r = rec(obj);
  VX_TRY(auto guard, borrow_shared(r.borrow));
  return TokenFields{r.type, r.value.share(), r.lineno, r.lexpos, r.end};
}

Result<TokenFields> take_token(Ref&& token) {
  // Held here, so that a token whose fields were moved out dies on return,
  // after the access is given back and before the caller stores anything.
  const Ref held = std::move(token);
  PyToken& r = rec(held.get());
  if (Py_REFCNT(held.get()) == 1 && r.borrow.try_exclusive()) {
    ExclusiveGuard guard(&r.borrow);
    return TokenFields{std::move(r.type), std::move(r.value), r.lineno, r.lexpos, r.end};
  }
  return read_token(held.get());
}

}  // namespace vx
