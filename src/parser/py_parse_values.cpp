// The value of a reduction, in the three ways that call Python: a value
// function over the right-hand-side values, reduce_cb over symbol objects,
// and the native proxy's action on a production view. (The fourth way, the
// default reduction, keeps the first value and calls nothing.)
#include <array>

#include "binding/convert.hpp"
#include "binding/names.hpp"
#include "binding/objects.hpp"
#include "parser/py_parse_run.hpp"

namespace vx {
namespace {

// f(*values of rhs) by vectorcall, without a tuple.
template <class Values>
Result<Ref> call_with_values(PyObject* f, size_t n, Values&& value_of) {
  constexpr size_t kInline = 8;
  std::array<PyObject*, kInline + 1> inline_args;
  std::vector<PyObject*> heap_args;
  PyObject** argv = inline_args.data();
  if (n > kInline) {
    heap_args.resize(n + 1);
    argv = heap_args.data();
  }
  for (size_t i = 0; i < n; ++i) argv[i + 1] = value_of(i);
  return checked(PyObject_Vectorcall(f, argv + 1, n | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// The result record of a reduction by production `name` over `rhs`: the
// positions of the right-hand side, its first value.
PyParsedSymbol result_record(const std::shared_ptr<const std::string>& name, std::span<const PyParsedSymbol> rhs) {
  if (rhs.empty()) return PyParsedSymbol::at_start(name);
  return PyParsedSymbol{name, rhs.front().value.share(), rhs.front().lineno, rhs.back().endlineno,
                        rhs.front().lexpos, rhs.back().endlexpos};
}

// Item p of `items`: straight from an exact list that has it, otherwise
// through `read`, the caller's own protocol for other containers.
template <class Read>
Result<Ref> item_at(PyObject* items, uint64_t p, Read&& read) {
  if (PyList_CheckExact(items) && p < static_cast<uint64_t>(PyList_GET_SIZE(items))) {
    return Ref::borrow(PyList_GET_ITEM(items, static_cast<Py_ssize_t>(p)));
  }
  return read();
}

// True when production p's object asks for the callback reduction: its
// action_style equals "values".
Result<bool> wants_values(PyObject* production) {
  VX_TRY(Ref style, get_attr(production, names::action_style()));
  PyObject* values = names::values();
  if (!values) return Error::pending();
  int eq = PyObject_RichCompareBool(style.get(), values, Py_EQ);
  if (eq < 0) return Error::pending();
  return eq == 1;
}

}  // namespace

Result<Ref> ParseRun::value_action(uint64_t p, uint64_t n) {
  stack().hide_top(n);
  Result<Ref> value = [&]() -> Result<Ref> {
    if (!opt_.value_funcs) return Error::make(PyExc_ValueError, "value_funcs required for value actions");
    VX_TRY(Ref f, item_at(opt_.value_funcs, p, [&]() -> Result<Ref> {
      return checked(PySequence_GetItem(opt_.value_funcs, static_cast<Py_ssize_t>(p)));
    }));
    // Only the loop changes the stack, so the hidden records stay put during the call.
    return call_with_values(f.get(), n, [&](size_t i) { return stack().symbol_below(n - 1 - i).value.get(); });
  }();
  if (!value.ok()) {
    stack().pop(n);  // the stack at the exit shows what lies below the right-hand side
    return value;
  }
  if (value->get() == Py_None) return Ref();
  return value;
}

Result<PyParsedSymbol> ParseRun::callback_reduction(uint64_t p, PyParsedSymbol res) {
  const size_t n = rhs_.size();
  VX_TRY(Ref rhs_list, new_list(static_cast<Py_ssize_t>(n)));
  Ref slice;
  if (opt_.prepared_slice) {
    VX_TRY(slice, new_list(static_cast<Py_ssize_t>(n + 1)));
  }
  for (size_t i = 0; i < n; ++i) {
    VX_TRY(Ref obj, wrap_symbol(std::move(rhs_[i])));
    if (slice) list_put(slice.get(), static_cast<Py_ssize_t>(i + 1), obj.share());
    list_put(rhs_list.get(), static_cast<Py_ssize_t>(i), std::move(obj));
  }
  VX_TRY(Ref result_obj, wrap_symbol(std::move(res)));
  if (slice) list_put(slice.get(), 0, result_obj.share());
  VX_TRY(Ref number, py_int(p));
  std::array<PyObject*, 6> argv{nullptr, number.get(), result_obj.get(), rhs_list.get()};
  size_t argc = 3;
  if (opt_.with_stack) {
    VX_TRY(PyObject * stack_obj, stack_object());
    argv[1 + argc++] = stack_obj;
  }
  if (slice) argv[1 + argc++] = slice.get();
  VX_TRY(Ref value, checked(PyObject_Vectorcall(opt_.reduce_cb, argv.data() + 1,
                                                argc | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr)));
  VX_TRY(PyParsedSymbol pushed, copy_symbol_out(result_obj.get()));
  pushed.value = std::move(value);
  return pushed;
}

Result<PyParsedSymbol> ParseRun::custom_value(uint64_t p) {
  PyParsedSymbol res = result_record(prog_.prod_names[p], rhs_);
  if (!opt_.proxy) return callback_reduction(p, std::move(res));
  PyObject* productions = opt_.proxy->productions.get();
  VX_TRY(Ref production, item_at(productions, p, [&]() -> Result<Ref> {
    VX_TRY(Ref index, py_int(p));
    return checked(PyObject_GetItem(productions, index.get()));
  }));
  VX_TRY(bool values, wants_values(production.get()));
  if (values) return callback_reduction(p, std::move(res));
  VX_TRY(PyObject * stack_obj, stack_object());
  return native_proxy_reduce(*opt_.proxy, production.get(), std::move(res), std::span(rhs_), stack_obj);
}

}  // namespace vx
