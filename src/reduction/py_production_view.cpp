#include "reduction/py_production_view.hpp"

#include <optional>
#include <utility>
#include <vector>

#include "binding/args.hpp"
#include "binding/boundary.hpp"
#include "binding/mutex_cell.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "binding/type_def.hpp"
#include "reduction/py_reduction_data.hpp"

namespace vx {
namespace {

TypeCell g_view_type;

// A view works in one of two modes. Data-backed (`data` set), it reads and
// writes the reduction data natively, by index. Slice-backed, it works on the
// `value` attributes of the items of `slice`, normally the list of symbol
// objects that the data made when the view first needed objects.
//
// Each field has its own mutex and the view has no borrow flag. Lock order:
// data, then slice, then stack; the data lock may be held while the reduction
// data takes its items lock. No lock is held across a call into Python, an
// object creation or a release of a reference.
struct ProductionView {
  MutexCell<Ref> data;   // a _ReductionData object
  MutexCell<Ref> slice;  // any object; used while `data` is empty
  MutexCell<Ref> stack;  // indexed with negative keys

  ProductionView(Ref d, Ref s, Ref st) : data(std::move(d)), slice(std::move(s)), stack(std::move(st)) {}
  ProductionView(const ProductionView&) = delete;
  ProductionView& operator=(const ProductionView&) = delete;
  ~ProductionView() {
    Ref d = data.into_inner();
    Ref s = slice.into_inner();
    Ref st = stack.into_inner();
    d.reset();  // in field order
    s.reset();
  }
};

ProductionView& rec(PyObject* self) { return unbox<ProductionView>(self); }

// A new reference to a field's object (empty when unset).
Ref share(MutexCell<Ref>& field) {
  return field.with([](Ref& r) { return r.share(); });
}
// Stores `v` and returns the object it replaced, for release by the caller
// after the lock is let go.
Ref exchange(MutexCell<Ref>& field, Ref v) {
  return field.with([&](Ref& r) { return std::exchange(r, std::move(v)); });
}

// --- materialisation -----------------------------------------------------------

// The symbol objects of the reduction data, result first, in a new list.
Result<Ref> symbol_list(ReductionData& d) {
  const size_t n = d.len();
  std::vector<Ref> objects;
  objects.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    VX_TRY(Ref o, d.materialize_symbol(i));
    objects.push_back(std::move(o));
  }
  VX_TRY(Ref list, new_list(static_cast<Py_ssize_t>(n)));
  for (size_t i = 0; i < n; ++i) list_put(list.get(), static_cast<Py_ssize_t>(i), std::move(objects[i]));
  return list;
}

// The slice the view works on. A data-backed view becomes slice-backed here:
// its data makes one object per symbol, the list of them becomes the slice,
// and the data is let go. Other threads may change the view meanwhile: a
// slice that appears is taken as it is, and a list built from data the view
// no longer holds is thrown away.
Result<Ref> materialized_slice(ProductionView& v) {
  for (;;) {
    if (Ref s = share(v.slice)) return s;
    Ref d = share(v.data);
    Ref list;
    if (d) {
      VX_TRY(list, symbol_list(reduction_data(d.get())));
    } else {
      VX_TRY(list, new_list());
    }
    if (Ref s = share(v.slice)) return s;
    if (!v.data.with([&](Ref& now) { return now.get() == d.get(); })) continue;
    // What the fields held (a slice another thread stored meanwhile) is
    // released once both are set: a finaliser it runs sees the view whole.
    Ref old_slice = exchange(v.slice, list.share());
    Ref old_data = exchange(v.data, Ref());
    return list;
  }
}

// --- item access -------------------------------------------------------------

Result<Ref> value_attr(Ref item) { return get_attr(item.get(), names::value()); }

Result<Ref> item_value(PyObject* seq, PyObject* key) {
  VX_TRY(Ref item, checked(PyObject_GetItem(seq, key)));
  return value_attr(std::move(item));
}

Result<Ref> slice_item_value(ProductionView& v, PyObject* key) {
  VX_TRY(Ref s, materialized_slice(v));
  return item_value(s.get(), key);
}

// Negative keys read the stack object as it is at the time of the read.
Result<Ref> stack_item_value(ProductionView& v, PyObject* key) {
  Ref st = share(v.stack);
  if (!st) return Error::make(PyExc_IndexError, "Stack is not available for negative index");
  return item_value(st.get(), key);
}

// The values of the items of `part`, in a new list.
Result<Ref> values_of(PyObject* part) {
  VX_TRY(Ref it, checked(PyObject_GetIter(part)));
  VX_TRY(Ref out, new_list());
  while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
    VX_TRY(Ref value, value_attr(std::move(item)));
    VX_CHECK(list_append(out.get(), value.get()));
  }
  if (PyErr_Occurred()) return Error::pending();
  return out;
}

Result<bool> at_least_zero(PyObject* key) {
  Ref zero = Ref::steal(PyLong_FromLong(0));
  if (!zero) return Error::pending();
  Ref cmp = Ref::steal(PyObject_RichCompare(key, zero.get(), Py_GE));
  if (!cmp) return Error::pending();
  int t = PyObject_IsTrue(cmp.get());
  if (t < 0) return Error::pending();
  return t != 0;
}

Result<Ref> get_item(PyObject* self, PyObject* key) {
  ProductionView& v = rec(self);
  if (Py_IS_TYPE(key, &PySlice_Type)) {
    VX_TRY(Ref s, materialized_slice(v));
    VX_TRY(Ref part, checked(PyObject_GetItem(s.get(), key)));
    return values_of(part.get());
  }
  if (PyLong_CheckExact(key)) {
    int overflow = 0;
    const long long i = PyLong_AsLongLongAndOverflow(key, &overflow);
    if (overflow > 0) return reduction_index_error();
    if (overflow < 0 || i < 0) return stack_item_value(v, key);
    std::optional<Result<Ref>> native = v.data.with([&](Ref& d) -> std::optional<Result<Ref>> {
      if (!d) return std::nullopt;
      return reduction_data(d.get()).value(static_cast<size_t>(i));
    });
    if (native) return std::move(*native);
    return slice_item_value(v, key);
  }
  VX_TRY(bool forward, at_least_zero(key));
  return forward ? slice_item_value(v, key) : stack_item_value(v, key);
}

Void set_item(PyObject* self, PyObject* key, PyObject* value) {
  if (!value) return Error::make(PyExc_NotImplementedError, "can't delete item");
  ProductionView& v = rec(self);
  if (PyLong_CheckExact(key)) {
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(key, &overflow);
    if (overflow != 0) return reduction_index_error();
    // The write releases the old value, so the data lock is not held for it.
    if (Ref d = share(v.data)) {
      ReductionData& data = reduction_data(d.get());
      if (i < 0) i += static_cast<long long>(data.len());
      if (i < 0) return reduction_index_error();
      return data.set_value(static_cast<size_t>(i), Ref::borrow(value));
    }
  }
  VX_TRY(Ref s, materialized_slice(v));
  VX_TRY(Ref item, checked(PyObject_GetItem(s.get(), key)));
  return set_attr(item.get(), names::value(), value);
}

PyObject* view_subscript(PyObject* self, PyObject* key) {
  return boundary([&]() { return get_item(self, key); });
}

int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
  return boundary_int([&]() { return set_item(self, key, value); });
}

// The sequence item slots pass their index on unchanged, negative ones included.
PyObject* view_sq_item(PyObject* self, Py_ssize_t i) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(Ref key, checked(PyLong_FromSsize_t(i)));
    return get_item(self, key.get());
  });
}

int view_sq_ass_item(PyObject* self, Py_ssize_t i, PyObject* value) {
  return boundary_int([&]() -> Void {
    VX_TRY(Ref key, checked(PyLong_FromSsize_t(i)));
    return set_item(self, key.get(), value);
  });
}

Py_ssize_t view_length(PyObject* self) {
  return boundary_size([&]() -> Result<Py_ssize_t> {
    ProductionView& v = rec(self);
    std::optional<size_t> n = v.data.with([](Ref& d) -> std::optional<size_t> {
      if (!d) return std::nullopt;
      return reduction_data(d.get()).len();
    });
    if (n) return static_cast<Py_ssize_t>(*n);
    VX_TRY(Ref s, materialized_slice(v));
    const Py_ssize_t k = PyObject_Size(s.get());
    if (k < 0) return Error::pending();
    return k;
  });
}

// --- construction and properties ---------------------------------------------------

using kNew = VX_SIGNATURE("_ProductionView",
                          "_ProductionView(slice_items, stack=None, lexer=None, parser=None, namemap=None)");

// A view of class `tp` over `items`, with `stack` (nullptr or None: none).
Result<Ref> make_view(PyTypeObject* tp, PyObject* items, PyObject* stack) {
  const bool backed = is_reduction_data(items);
  return new_box<ProductionView>(tp, backed ? Ref::borrow(items) : Ref(), backed ? Ref() : Ref::borrow(items),
                                 stack && stack != Py_None ? Ref::borrow(stack) : Ref());
}

PyObject* view_new(PyTypeObject* tp, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(kNew::Args a, kNew::bind(args, kwargs));
    return make_view(tp, a["slice_items"], a["stack"]);
  });
}

PyObject* get_slice(PyObject* self, void*) {
  return boundary([&]() { return materialized_slice(rec(self)); });
}

int set_slice(PyObject* self, PyObject* x, void*) {
  return boundary_int([&]() -> Void {
    if (!x) return no_deleter();
    ProductionView& v = rec(self);
    const bool backed = is_reduction_data(x);
    Ref old_data, old_slice;
    v.data.with([&](Ref& d) {
      old_data = std::exchange(d, backed ? Ref::borrow(x) : Ref());
      v.slice.with([&](Ref& s) { old_slice = std::exchange(s, backed ? Ref() : Ref::borrow(x)); });
    });
    old_data.reset();
    return ok();
  });
}

PyObject* get_stack(PyObject* self, void*) {
  return boundary([&]() -> Result<Ref> {
    Ref st = share(rec(self).stack);
    return st ? std::move(st) : Ref::none();
  });
}

int set_stack(PyObject* self, PyObject* x, void*) {
  return boundary_int([&]() -> Void {
    if (!x) return no_deleter();
    exchange(rec(self).stack, x == Py_None ? Ref() : Ref::borrow(x));
    return ok();
  });
}

PyGetSetDef kGetSet[] = {
    {"_slice", get_slice, set_slice, nullptr, nullptr},
    {"_stack", get_stack, set_stack, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- garbage collection ----------------------------------------------------------

int view_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  ProductionView& v = rec(self);
  for (MutexCell<Ref>* field : {&v.data, &v.slice, &v.stack}) {
    int r = 0;
    field->try_with([&](Ref& o) {
      if (o) r = visit(o.get(), arg);
    });
    if (r != 0) return r;
  }
  return 0;
}

int view_clear(PyObject* self) {
  return boundary_int([&]() -> Void {
    ProductionView& v = rec(self);
    Ref d, s, st;
    v.data.with([&](Ref& a) {
      d = std::exchange(a, Ref());
      v.slice.with([&](Ref& b) {
        s = std::exchange(b, Ref());
        v.stack.with([&](Ref& c) { st = std::exchange(c, Ref()); });
      });
    });
    d.reset();  // in field order
    s.reset();
    return ok();
  });
}

void view_dealloc(PyObject* self) {
  ProductionView& v = rec(self);
  if (v.data.poisoned() || v.slice.poisoned() || v.stack.poisoned()) {
    report_unraisable_internal_failure("_ProductionView dropped with a poisoned mutex");
  }
  dealloc_box<ProductionView>(self);
}

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(kNew::doc)},
    {Py_tp_new, reinterpret_cast<void*>(view_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(view_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(view_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(view_clear)},
    {Py_mp_length, reinterpret_cast<void*>(view_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(view_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(view_ass_subscript)},
    {Py_sq_item, reinterpret_cast<void*>(view_sq_item)},
    {Py_sq_ass_item, reinterpret_cast<void*>(view_sq_ass_item)},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    .name = "builtins._ProductionView",
    .basicsize = sizeof(Box<ProductionView>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_BASETYPE,
    .slots = kSlots,
};

}  // namespace

Result<PyTypeObject*> production_view_type() { return g_view_type.get(kSpec, "_ProductionView"); }

bool is_production_view(PyObject* obj) noexcept {
  PyTypeObject* tp = g_view_type.peek();
  return tp && PyObject_TypeCheck(obj, tp);
}

Result<Ref> call_view_factory(PyObject* factory_new, PyObject* factory, PyObject* data, PyObject* stack) {
  // _ProductionView.__new__ is a built-in bound to the class. Called with a
  // subclass that makes its instances with view_new, it checks the subclass
  // and runs view_new on the other arguments: the same as made here.
  PyTypeObject* tp = g_view_type.peek();
  if (tp && PyCFunction_Check(factory_new) && PyCFunction_GET_SELF(factory_new) == reinterpret_cast<PyObject*>(tp) &&
      PyType_Check(factory)) {
    auto* sub = reinterpret_cast<PyTypeObject*>(factory);
    if (sub->tp_new == view_new && PyType_IsSubtype(sub, tp)) return make_view(sub, data, stack);
  }
  return call(factory_new, factory, data, stack);
}

bool holds_source(PyObject* view, PyObject* data) {
  return rec(view).data.with([&](Ref& d) { return d.get() == data; });
}

}  // namespace vx
