#include "parser/py_parser_engine.hpp"

#include <algorithm>

#include "binding/boundary.hpp"
#include "binding/convert.hpp"
#include "binding/objects.hpp"
#include "binding/type_def.hpp"
#include "lr_table/py_lr_table.hpp"

namespace vx {
namespace {

TypeCell g_engine_type;
using Engine = PyParserEngine;

// --- argument conversion ---------------------------------------------------------

// Reads the entries of `dict` in order, calling `entry(key, value)` with
// strong references. A conversion may run Python code (an __index__), which
// may change the dictionary; reading on would then skip or repeat entries.
// So the keys are taken before anything runs: every key read must be the
// next of them, the size must stay, and at the end the dictionary must hold
// exactly those keys in that order; any change is an internal failure.
template <class Entry>
Void for_each_entry(PyObject* dict, Entry&& entry) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  std::vector<Ref> keys;  // strong, so that no new key can take an old one's address
  keys.reserve(static_cast<size_t>(size));
  Py_ssize_t pos = 0;
  PyObject* k;
  PyObject* v;
  while (PyDict_Next(dict, &pos, &k, &v)) keys.push_back(Ref::borrow(k));
  const auto same_keys = [&] {
    size_t i = 0;
    for (Py_ssize_t at = 0; PyDict_Next(dict, &at, &k, &v); ++i) {
      if (i == keys.size() || k != keys[i].get()) return false;
    }
    return i == keys.size();
  };
  size_t read = 0;
  pos = 0;
  while (PyDict_Next(dict, &pos, &k, &v)) {
    if (read == keys.size() || k != keys[read].get()) internal_failure("dictionary keys changed during iteration");
    Ref value = Ref::borrow(v);
    VX_CHECK(entry(keys[read++].get(), value.get()));
    if (PyDict_GET_SIZE(dict) != size) internal_failure("dictionary changed size during iteration");
  }
  if (read != keys.size() || !same_keys()) internal_failure("dictionary keys changed during iteration");
  return ok();
}

// An action or goto dictionary: state -> {name: cell}.
template <class RowMap, class ConvertCell>
Result<std::unordered_map<uint64_t, RowMap>> to_row_map(PyObject* obj, std::string_view note, ConvertCell&& cell) {
  VX_CHECK(check_dict(obj, note));
  std::unordered_map<uint64_t, RowMap> out;
  VX_CHECK(for_each_entry(obj, [&](PyObject* state_obj, PyObject* row_obj) -> Void {
    VX_TRY(uint64_t state, to_u64(state_obj, note));
    VX_CHECK(check_dict(row_obj, note));
    RowMap row;
    VX_CHECK(for_each_entry(row_obj, [&](PyObject* name_obj, PyObject* cell_obj) -> Void {
      VX_TRY(std::string name, to_utf8(name_obj, note));
      VX_TRY(auto value, cell(cell_obj));
      row.insert_or_assign(std::move(name), std::move(value));
      return ok();
    }));
    out.insert_or_assign(state, std::move(row));
    return ok();
  }));
  return out;
}

Result<ActionMap> to_action_map(PyObject* obj) {
  return to_row_map<ActionRowMap>(obj, "action", [](PyObject* v) -> Result<ActionEntry> {
    if (v == Py_None) return ActionEntry();
    VX_TRY(int32_t entry, to_i32(v, "action"));
    return ActionEntry(entry);
  });
}

Result<GotoMap> to_goto_map(PyObject* obj) {
  return to_row_map<GotoRowMap>(obj, "goto", [](PyObject* v) { return to_u64(v, "goto"); });
}

// The items of the list argument `list`, each converted by `convert` with
// the argument's note.
template <class T>
Result<std::vector<T>> to_list_of(Arg list, Result<T> (*convert)(PyObject*, std::string_view)) {
  VX_TRY(std::vector<Ref> items, to_item_list(list));
  std::vector<T> out;
  out.reserve(items.size());
  for (const Ref& item : items) {
    VX_TRY(T v, convert(item.get(), list.name));
    out.push_back(std::move(v));
  }
  return out;
}

// The four per-production lists, converted in signature order; `tables`
// is filled in by the caller. Without value_actions no production has a
// value action.
template <class Args>
Result<ParseProgram> production_lists(const Args& a) {
  ParseProgram e;
  VX_TRY(e.prod_names, to_list_of<std::shared_ptr<const std::string>>(a["prod_names"], to_shared_text));
  VX_TRY(e.prod_lens, to_list_of<uint64_t>(a["prod_lens"], to_u64));
  VX_TRY(std::vector<bool> has_custom_func, to_list_of<bool>(a["has_custom_func"], to_bool));
  std::vector<bool> value_actions;
  if (a["value_actions"].given()) {
    VX_TRY(value_actions, to_list_of<bool>(a["value_actions"], to_bool));
  }
  e.custom_count = has_custom_func.size();
  const size_t n = std::min(e.prod_names.size(), has_custom_func.size());
  e.reduction.reserve(n);
  for (size_t p = 0; p < n; ++p) {
    if (p < value_actions.size() && value_actions[p]) {
      e.reduction.push_back(Reduction::Value);
    } else {
      e.reduction.push_back(has_custom_func[p] ? Reduction::Custom : Reduction::Default);
    }
  }
  return e;
}

Result<Ref> finish(PyTypeObject* tp, ParseProgram e, std::shared_ptr<const ParserTables> tables) {
  e.prod_lhs.reserve(e.prod_names.size());
  for (const auto& name : e.prod_names) e.prod_lhs.push_back(tables->symbol_id(*name));
  e.error_id = tables->symbol_id("error");
  e.tables = std::move(tables);
  return new_box<Engine>(tp, std::move(e));
}

// --- construction ------------------------------------------------------------------

using kNew = VX_SIGNATURE("LRParserEngine",
                          "LRParserEngine(num_states, action, goto, prod_names, prod_lens, has_custom_func, "
                          "value_actions=None)");
using kFromTable = VX_SIGNATURE("LRParserEngine",
                                "from_table(table, prod_names, prod_lens, has_custom_func, value_actions=None)");
using kFromEngine = VX_SIGNATURE("LRParserEngine",
                                 "from_engine(engine, prod_names, prod_lens, has_custom_func, value_actions=None)");

PyObject* engine_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kNew::Args a, kNew::bind(args, kwargs));
    VX_TRY(uint64_t num_states, to_u64(a["num_states"]));
    VX_TRY(ActionMap action, to_action_map(a["action"]));
    VX_TRY(GotoMap gotos, to_goto_map(a["goto"]));
    VX_TRY(ParseProgram e, production_lists(a));
    auto tables = ParserTables::create(num_states, std::move(action), std::move(gotos));
    return finish(tp, std::move(e), std::move(tables));
  });
}

PyObject* from_table(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kFromTable::Args a, kFromTable::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(auto tables, noted(shared_tables_of(a["table"]), a["table"].name));
    VX_TRY(ParseProgram e, production_lists(a));
    VX_TRY(PyTypeObject * tp, parser_engine_type());
    return finish(tp, std::move(e), std::move(tables));
  });
}

PyObject* from_engine(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kFromEngine::Args a, kFromEngine::bind(args, static_cast<size_t>(nargsf), kwnames));
    VX_TRY(PyTypeObject * tp, parser_engine_type());
    const Arg engine = a["engine"];
    if (!Py_IS_TYPE(engine, tp)) return std::move(cast_error(engine, "LRParserEngine")).with_argument_note(engine.name);
    Engine& source = unbox<Engine>(engine);
    VX_TRY(auto guard, noted(borrow_shared(source.borrow), engine.name));
    VX_TRY(ParseProgram e, production_lists(a));
    return finish(tp, std::move(e), source.program.tables);
  });
}

PyMethodDef kMethods[] = {
    VX_METHOD_DEF(kParse, engine_parse),
    {kFromTable::method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_table)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, kFromTable::doc},
    {kFromEngine::method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_engine)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, kFromEngine::doc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(engine_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<Engine>)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.LRParserEngine",
    .basicsize = sizeof(Box<Engine>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = kSlots,
};

// The three feature flags, readable on the class and on every instance.
const char* set_class_attributes(PyTypeObject* tp) {
  for (const char* name : {"supports_prepared_slice", "supports_recovery_control", "supports_native_proxy"}) {
    if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(tp), name, Py_True) < 0) return name;
  }
  return nullptr;
}

}  // namespace

Result<PyTypeObject*> parser_engine_type() {
  return g_engine_type.get(kSpec, "LRParserEngine", set_class_attributes);
}

}  // namespace vx
