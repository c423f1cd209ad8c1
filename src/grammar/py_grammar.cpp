// The Python class Grammar: the grammar model's edits, its FIRST and FOLLOW
// sets, and the entry point of the table construction.
#include "grammar/py_grammar.hpp"

#include "binding/args.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"
#include "grammar/grammar.hpp"
#include "lr_table/py_lr_table.hpp"

namespace vx {
namespace {

struct PyGrammar {
  explicit PyGrammar(Grammar g) : grammar(std::move(g)) {}
  Grammar grammar;
  BorrowFlag borrow;
};
using Obj = PyGrammar;

TypeCell g_grammar_type;

Obj& obj(PyObject* self) { return unbox<Obj>(self); }

// --- construction -----------------------------------------------------------

using kNew = VX_SIGNATURE("Grammar", "Grammar(terminals=None)");

PyObject* grammar_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kNew::Args a, kNew::bind(args, kwargs));
    if (!a["terminals"].given()) return new_box<Obj>(tp, Grammar());
    VX_TRY(auto terminals, to_text_list(a["terminals"]));
    return new_box<Obj>(tp, Grammar(terminals));
  });
}

// --- edits --------------------------------------------------------------------

using kAdd = VX_SIGNATURE("Grammar", "add_production($self, name, syms, line=0, precedence=None, prec_tuple=None)");

Result<PrecPair> prec_pair(PyObject* v) {
  VX_CHECK(check_tuple(v, 2, "prec_tuple"));
  VX_TRY(std::string assoc, to_utf8(PyTuple_GET_ITEM(v, 0), "prec_tuple"));
  VX_TRY(int32_t level, to_i32(PyTuple_GET_ITEM(v, 1), "prec_tuple"));
  return PrecPair{std::move(assoc), level};
}

PyObject* add_production(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kAdd::Args a, kAdd::bind(args, static_cast<size_t>(nargsf), kwnames));
    // Exclusive access covers the conversions: code they run cannot use the grammar.
    VX_TRY(auto guard, borrow_exclusive(obj(self).borrow));
    VX_TRY(std::string name, to_utf8(a["name"]));
    VX_TRY(auto syms, to_text_list(a["syms"]));
    VX_TRY(const uint64_t line, to_u64_or(a["line"], 0));
    VX_TRY(auto precedence, to_optional_utf8(a["precedence"]));
    Grammar& g = obj(self).grammar;
    if (PyObject* tuple = a["prec_tuple"].given()) {
      VX_TRY(PrecPair prec, prec_pair(tuple));
      VX_TRY(uint64_t number, g.add_production_with_prec(name, syms, line, std::move(prec)));
      return py_int(number);
    }
    VX_TRY(uint64_t number, g.add_production(name, syms, line,
                                             precedence ? std::optional<std::string_view>(*precedence) : std::nullopt));
    return py_int(number);
  });
}

using kPrec = VX_SIGNATURE("Grammar", "set_precedence($self, prec_specs)");

PyObject* set_precedence(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kPrec::Args a, kPrec::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(auto guard, borrow_exclusive(obj(self).borrow));
    VX_TRY(std::vector<Ref> specs, to_item_list(a["prec_specs"]));
    std::vector<PrecedenceGroup> groups;
    groups.reserve(specs.size());
    for (const Ref& spec : specs) {
      VX_CHECK(check_tuple(spec.get(), 2, "prec_specs"));
      VX_TRY(std::string assoc, to_utf8(PyTuple_GET_ITEM(spec.get(), 0), "prec_specs"));
      VX_TRY(auto names, to_text_list(PyTuple_GET_ITEM(spec.get(), 1), "prec_specs"));
      groups.push_back(PrecedenceGroup{std::move(assoc), std::move(names)});
    }
    VX_CHECK(obj(self).grammar.set_precedence(groups));
    return Ref::none();
  });
}

using kStart = VX_SIGNATURE("Grammar", "set_start($self, start=None)");

PyObject* set_start(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kStart::Args a, kStart::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(auto guard, borrow_exclusive(obj(self).borrow));
    VX_TRY(auto start, to_optional_utf8(a["start"]));
    VX_CHECK(obj(self).grammar.set_start(start ? std::optional<std::string_view>(*start) : std::nullopt));
    return Ref::none();
  });
}

PyObject* build_table(PyObject* self, PyObject*) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(auto guard, borrow_exclusive(obj(self).borrow));
    LRTable table = LRTable::build(obj(self).grammar);
    auto tables = table.make_parser_tables();
    return wrap_lr_table(std::move(table), std::move(tables));
  });
}

// --- FIRST and FOLLOW ------------------------------------------------------------

Result<Ref> sets_dict(const Grammar& g, const SymbolSets& sets) {
  VX_TRY(Ref dict, new_dict());
  for (size_t i = 0; i < sets.size(); ++i) {
    VX_TRY(Ref members, new_set());
    for (SymbolId m : sets.members(i)) {
      VX_TRY(Ref name, py_str(g.name(m)));
      VX_CHECK(set_add(members.get(), name.get()));
    }
    VX_TRY(Ref key, py_str(g.name(sets.key(i))));
    VX_CHECK(dict_set(dict.get(), key.get(), members.get()));
  }
  return dict;
}

PyObject* get_first(PyObject* self, void*) {
  return get_property<Obj>(self, [](Obj& o) { return sets_dict(o.grammar, o.grammar.first()); });
}
PyObject* get_follow(PyObject* self, void*) {
  return get_property<Obj>(self, [](Obj& o) { return sets_dict(o.grammar, o.grammar.follow()); });
}

PyMethodDef kMethods[] = {
    VX_METHOD_DEF(kAdd, add_production),
    VX_METHOD_DEF(kPrec, set_precedence),
    VX_METHOD_DEF(kStart, set_start),
    {"build_table", build_table, METH_NOARGS, "build_table($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"first", get_first, nullptr, nullptr, nullptr},
    {"follow", get_follow, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(grammar_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<Obj>)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.Grammar",
    .basicsize = sizeof(Box<Obj>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> grammar_type() { return g_grammar_type.get(kSpec, "Grammar"); }

}  // namespace vx
