#include "lr_table/py_lr_table.hpp"

#include "binding/convert.hpp"
#include "binding/objects.hpp"
#include "binding/properties.hpp"

namespace vx {
namespace {

TypeCell g_lr_table_type;
using Obj = PyLRTable;

Result<Ref> entry_value(const ActionEntry& e) {
  if (!e) return Ref::none();
  return py_int_signed(*e);
}

Result<Ref> item_tuple(const LrItem& item) {
  VX_TRY(Ref p, py_int(item.production));
  VX_TRY(Ref d, py_int(item.dot));
  return make_tuple(std::move(p), std::move(d));
}

Result<Ref> names_list(const LRTable& t, std::span<const SymbolId> ids) {
  std::vector<std::string_view> names;
  names.reserve(ids.size());
  for (SymbolId id : ids) names.push_back(t.symbol_name(id));
  return py_str_list(names);
}

// One dict per state of a row table: state -> {name: value}.
template <class Row, class Value>
Result<Ref> rows_dict(const LRTable& t, Row&& row_of, Value&& value_of) {
  VX_TRY(Ref outer, new_dict());
  for (size_t s = 0; s < t.num_states(); ++s) {
    VX_TRY(Ref inner, new_dict());
    for (const auto& cell : row_of(s)) {
      VX_TRY(Ref key, py_str(t.symbol_name(cell.symbol)));
      VX_TRY(Ref value, value_of(cell));
      VX_CHECK(dict_set(inner.get(), key.get(), value.get()));
    }
    VX_TRY(Ref state, py_int(s));
    VX_CHECK(dict_set(outer.get(), state.get(), inner.get()));
  }
  return outer;
}

Result<Ref> read_action(const LRTable& t) {
  return rows_dict(t, [&](size_t s) { return t.action_row(s); },
                   [](const ActionCellRec& c) { return entry_value(c.entry); });
}

Result<Ref> read_goto(const LRTable& t) {
  return rows_dict(t, [&](size_t s) { return t.goto_row(s); },
                   [](const GotoCellRec& c) { return py_int(c.target); });
}

Result<Ref> read_sr_conflicts(const LRTable& t) {
  VX_TRY(Ref list, new_list());
  for (const SrConflict& c : t.sr_conflicts()) {
    VX_TRY(Ref state, py_int(c.state));
    VX_TRY(Ref token, py_str(c.token));
    VX_TRY(Ref resolution, py_str(c.resolution));
    VX_TRY(Ref row, make_tuple(std::move(state), std::move(token), std::move(resolution)));
    VX_CHECK(list_append(list.get(), row.get()));
  }
  return list;
}

Result<Ref> read_rr_conflicts(const LRTable& t) {
  VX_TRY(Ref list, new_list());
  for (const RrConflict& c : t.rr_conflicts()) {
    VX_TRY(Ref state, py_int(c.state));
    VX_TRY(Ref chosen, py_int(c.chosen));
    VX_TRY(Ref rejected, py_int(c.rejected));
    VX_TRY(Ref row, make_tuple(std::move(state), std::move(chosen), std::move(rejected)));
    VX_CHECK(list_append(list.get(), row.get()));
  }
  return list;
}

Result<Ref> read_states(const LRTable& t) {
  VX_TRY(Ref list, new_list(static_cast<Py_ssize_t>(t.num_states())));
  for (size_t s = 0; s < t.num_states(); ++s) {
    auto items = t.state(s);
    VX_TRY(Ref row, new_list(static_cast<Py_ssize_t>(items.size())));
    for (size_t i = 0; i < items.size(); ++i) {
      VX_TRY(Ref item, item_tuple(items[i]));
      list_put(row.get(), static_cast<Py_ssize_t>(i), std::move(item));
    }
    list_put(list.get(), static_cast<Py_ssize_t>(s), std::move(row));
  }
  return list;
}

Result<Ref> read_lookaheads(const LRTable& t) {
  VX_TRY(Ref dict, new_dict());
  for (const LookaheadList& la : t.lookaheads()) {
    VX_TRY(Ref state, py_int(la.state));
    VX_TRY(Ref production, py_int(la.production));
    VX_TRY(Ref key, make_tuple(std::move(state), std::move(production)));
    VX_TRY(Ref names, names_list(t, la.terminals));
    VX_CHECK(dict_set(dict.get(), key.get(), names.get()));
  }
  return dict;
}

Result<Ref> conflict_dict(const ConflictRecord& c) {
  VX_TRY(Ref d, new_dict());
  VX_TRY(Ref kind, py_str(c.kind));
  VX_TRY(Ref state, py_int(c.state));
  VX_TRY(Ref token, py_str(c.token));
  VX_TRY(Ref resolution, py_str(c.resolution));
  VX_TRY(Ref reason, py_str(c.reason));
  VX_TRY(Ref candidates, new_list(2));
  for (Py_ssize_t i = 0; i < 2; ++i) {
    VX_TRY(Ref item, item_tuple(c.candidates[static_cast<size_t>(i)]));
    list_put(candidates.get(), i, std::move(item));
  }
  const std::pair<const char*, PyObject*> fields[] = {
      {"kind", kind.get()},         {"state", state.get()},   {"token", token.get()},
      {"resolution", resolution.get()}, {"reason", reason.get()}, {"candidates", candidates.get()},
  };
  for (const auto& [key, value] : fields) {
    if (PyDict_SetItemString(d.get(), key, value) < 0) return Error::pending();
  }
  return d;
}

Result<Ref> read_conflicts(const LRTable& t) {
  VX_TRY(Ref list, new_list());
  for (const ConflictRecord& c : t.conflicts()) {
    VX_TRY(Ref d, conflict_dict(c));
    VX_CHECK(list_append(list.get(), d.get()));
  }
  return list;
}

template <Result<Ref> (*Read)(const LRTable&)>
PyObject* getter(PyObject* self, void*) {
  return get_property<Obj>(self, [](Obj& o) { return Read(o.table); });
}

Result<Ref> read_num_states(const LRTable& t) { return py_int(t.num_states()); }

PyGetSetDef kGetSet[] = {
    {"action", getter<read_action>, nullptr, nullptr, nullptr},
    {"goto", getter<read_goto>, nullptr, nullptr, nullptr},
    {"sr_conflicts", getter<read_sr_conflicts>, nullptr, nullptr, nullptr},
    {"rr_conflicts", getter<read_rr_conflicts>, nullptr, nullptr, nullptr},
    {"num_states", getter<read_num_states>, nullptr, nullptr, nullptr},
    {"states", getter<read_states>, nullptr, nullptr, nullptr},
    {"lookaheads", getter<read_lookaheads>, nullptr, nullptr, nullptr},
    {"conflicts", getter<read_conflicts>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<Obj>)},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins.LRTable",
    .basicsize = sizeof(Box<Obj>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> lr_table_type() { return g_lr_table_type.get(kSpec, "LRTable"); }

Result<Ref> wrap_lr_table(LRTable table, std::shared_ptr<const ParserTables> tables) {
  VX_TRY(PyTypeObject * tp, lr_table_type());
  return new_box<Obj>(tp, std::move(table), std::move(tables));
}

Result<std::shared_ptr<const ParserTables>> shared_tables_of(PyObject* obj) {
  PyTypeObject* tp = g_lr_table_type.peek();
  if (!tp || !Py_IS_TYPE(obj, tp)) return cast_error(obj, "LRTable");
  Obj& o = unbox<Obj>(obj);
  VX_TRY(auto guard, borrow_shared(o.borrow));
  return o.tables;
}

}  // namespace vx
