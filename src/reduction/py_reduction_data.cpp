#include "reduction/py_reduction_data.hpp"

#include <optional>

#include "binding/args.hpp"
#include "binding/boundary.hpp"
#include "binding/type_def.hpp"

namespace vx {
namespace {

TypeCell g_data_type;

ParsedSymbolObject& symbol_object(const Ref& obj) { return unbox<ParsedSymbolObject>(obj.get()); }

// Releases the items from the last to the first, outside every lock.
void release_items(std::vector<ReductionSymbol>& items) {
  while (!items.empty()) items.pop_back();
}

// A copy of a symbol's record; an object's record is read under shared access.
Result<PyParsedSymbol> copy_of(const ReductionSymbol& item) {
  if (const auto* obj = std::get_if<Ref>(&item)) return copy_symbol_out(obj->get());
  return std::get<PyParsedSymbol>(item).clone_symbol();
}

// The result record, then the right-hand side, in one allocation of n + 1.
std::vector<ReductionSymbol> all_items(PyParsedSymbol result, std::span<PyParsedSymbol> rhs) {
  std::vector<ReductionSymbol> items;
  items.reserve(rhs.size() + 1);
  items.emplace_back(std::move(result));
  for (PyParsedSymbol& s : rhs) items.emplace_back(std::move(s));
  return items;
}

}  // namespace

// --- native operations ---------------------------------------------------------

ReductionData::ReductionData(PyParsedSymbol result, std::span<PyParsedSymbol> rhs)
    : items_(all_items(std::move(result), rhs)) {}

ReductionData::~ReductionData() {
  std::vector<ReductionSymbol> items = items_.into_inner();
  release_items(items);
}

size_t ReductionData::len() {
  return items_.with([](std::vector<ReductionSymbol>& items) { return items.size(); });
}

Result<Ref> ReductionData::value(size_t i) {
  return items_.with([&](std::vector<ReductionSymbol>& items) -> Result<Ref> {
    if (i >= items.size()) return reduction_index_error();
    if (auto* obj = std::get_if<Ref>(&items[i])) {
      ParsedSymbolObject& o = symbol_object(*obj);
      VX_TRY(auto guard, borrow_shared(o.borrow));
      return o.sym.value.share();
    }
    return std::get<PyParsedSymbol>(items[i]).value.share();
  });
}

Void ReductionData::set_value(size_t i, Ref v) {
  // `v` leaves holding the replaced value, or the refused one, and is
  // released on return, after the mutex is let go.
  return items_.with([&](std::vector<ReductionSymbol>& items) -> Void {
    if (i >= items.size()) return reduction_index_error();
    if (auto* obj = std::get_if<Ref>(&items[i])) {
      ParsedSymbolObject& o = symbol_object(*obj);
      VX_TRY(auto guard, borrow_exclusive(o.borrow));
      std::swap(o.sym.value, v);
      return ok();
    }
    std::swap(std::get<PyParsedSymbol>(items[i]).value, v);
    return ok();
  });
}

Result<Ref> ReductionData::result(Ref v) {
  if (v.get() != Py_None) VX_CHECK(set_value(0, std::move(v)));
  return value(0);
}

Result<PyParsedSymbol> ReductionData::lhs_snapshot() {
  return items_.with([](std::vector<ReductionSymbol>& items) -> Result<PyParsedSymbol> {
    if (items.empty()) return Error::make(PyExc_RuntimeError, "reduction data was cleared");
    return copy_of(items[0]);
  });
}

void ReductionData::release_rhs_guard() {
  std::vector<ReductionSymbol> dropped;
  items_.with([&](std::vector<ReductionSymbol>& items) {
    if (items.size() < 2) return;
    dropped.reserve(items.size() - 1);
    for (auto it = items.begin() + 1; it != items.end(); ++it) dropped.push_back(std::move(*it));
    items.erase(items.begin() + 1, items.end());  // moved-from items hold nothing
  });
  release_items(dropped);
}

Result<Ref> ReductionData::materialize_symbol(size_t i) {
  std::optional<PyParsedSymbol> copy;
  Ref existing;
  VX_CHECK(items_.with([&](std::vector<ReductionSymbol>& items) -> Void {
    if (i >= items.size()) return reduction_index_error();
    if (auto* obj = std::get_if<Ref>(&items[i])) {
      existing = obj->share();
      return ok();
    }
    copy = std::get<PyParsedSymbol>(items[i]).clone_symbol();
    return ok();
  }));
  if (existing) return existing;

  // Made without the mutex: when making the object fails, the copy's
  // references are released with it.
  VX_TRY(Ref made, wrap_symbol(std::move(*copy)));
  PyParsedSymbol replaced;  // the copy's fields, released after unlocking
  Ref winner;
  VX_CHECK(items_.with([&](std::vector<ReductionSymbol>& items) -> Void {
    if (i >= items.size()) return reduction_index_error();  // shortened meanwhile
    if (auto* obj = std::get_if<Ref>(&items[i])) {
      winner = obj->share();  // materialised meanwhile: the first object stays
      return ok();
    }
    // The object takes the record as it is now, including a value written
    // since the copy was made. Nobody else can hold the new object yet.
    ParsedSymbolObject& o = symbol_object(made);
    if (!o.borrow.try_exclusive()) internal_failure("new symbol object already in use");
    ExclusiveGuard guard(&o.borrow);
    replaced = std::exchange(o.sym, std::move(std::get<PyParsedSymbol>(items[i])));
    items[i] = made.share();
    winner = made.share();
    return ok();
  }));
  return winner;
}

int ReductionData::traverse(visitproc visit, void* arg) {
  int result = 0;
  items_.try_with([&](std::vector<ReductionSymbol>& items) {
    for (const ReductionSymbol& item : items) {
      PyObject* o = std::holds_alternative<Ref>(item) ? std::get<Ref>(item).get()
                                                      : std::get<PyParsedSymbol>(item).value.get();
      if (o && (result = visit(o, arg)) != 0) return;
    }
  });
  return result;
}

void ReductionData::clear() {
  std::vector<ReductionSymbol> taken =
      items_.with([](std::vector<ReductionSymbol>& items) { return std::exchange(items, {}); });
  release_items(taken);
}

// --- the class -----------------------------------------------------------------

namespace {

ReductionData& rec(PyObject* self) { return unbox<ReductionData>(self); }

using kResult = VX_SIGNATURE("_ReductionData", "result($self, result)");

PyObject* data_result(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kResult::Args a, kResult::bind(args, static_cast<size_t>(nargsf), kwnames));
    return rec(self).result(Ref::borrow(a["result"]));
  });
}

PyMethodDef kMethods[] = {
    VX_METHOD_DEF(kResult, data_result),
    {nullptr, nullptr, 0, nullptr},
};

int data_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  return rec(self).traverse(visit, arg);
}

int data_clear(PyObject* self) {
  return boundary_int([&]() -> Void {
    rec(self).clear();
    return ok();
  });
}

void data_dealloc(PyObject* self) {
  if (rec(self).poisoned()) report_unraisable_internal_failure("_ReductionData dropped with a poisoned mutex");
  dealloc_box<ReductionData>(self);
}

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(data_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(data_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(data_clear)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins._ReductionData",
    .basicsize = sizeof(Box<ReductionData>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> reduction_data_type() { return g_data_type.get(kSpec, "_ReductionData"); }

Result<Ref> new_reduction_data(PyParsedSymbol result, std::span<PyParsedSymbol> rhs) {
  VX_TRY(PyTypeObject * tp, reduction_data_type());
  return new_box<ReductionData>(tp, std::move(result), rhs);
}

Error reduction_index_error() { return Error::make(PyExc_IndexError, "reduction index out of range"); }

bool is_reduction_data(PyObject* obj) noexcept {
  PyTypeObject* tp = g_data_type.peek();
  return tp && Py_IS_TYPE(obj, tp);
}

ReductionData& reduction_data(PyObject* obj) noexcept { return rec(obj); }

}  // namespace vx
