#include "parser/py_parse_stack.hpp"

#include <cassert>
#include <utility>

#include "binding/boundary.hpp"
#include "binding/type_def.hpp"
#include "common/internal_failure.hpp"

namespace vx {
namespace {

// The bottom entry of every stack: "$end" with the value None.
ParseStack::Entry bottom_entry() {
  static const auto name = std::make_shared<const std::string>("$end");
  return {0, PyParsedSymbol::at_start(name)};
}

}  // namespace

ParseStack::ParseStack() {
  entries_.reserve(16);
  entries_.push_back(bottom_entry());
}

// Only a stack that nobody can see yet is moved (into its Python object).
ParseStack::ParseStack(ParseStack&& other) noexcept
    : entries_(std::move(other.entries_)), hidden_(std::exchange(other.hidden_, 0)) {}

template <class F>
void ParseStack::change(F&& f) {
  if (!borrow_.try_exclusive()) internal_failure("parser stack in use during a native step");
  {
    ExclusiveGuard guard(&borrow_);
    f();
    hidden_ = 0;
    check_invariant();
  }
  released_.clear();  // may run Python code, which may read the stack
}

void ParseStack::check_invariant() const noexcept {
#ifndef NDEBUG
  assert(!entries_.empty() && entries_.front().state == 0 && *entries_.front().sym.sym_type == "$end");
  assert(hidden_ < entries_.size());
#endif
}

void ParseStack::push(uint64_t state, PyParsedSymbol&& sym) {
  change([&] { entries_.emplace_back(state, std::move(sym)); });
}

void ParseStack::pop(size_t n) {
  change([&] {
    const size_t first = entries_.size() - n;
    for (size_t i = first; i < entries_.size(); ++i) released_.push_back(std::move(entries_[i].sym.value));
    entries_.resize(first);
  });
}

void ParseStack::split_top(size_t n, std::vector<PyParsedSymbol>& out) {
  change([&] {
    const size_t first = entries_.size() - n;
    for (size_t i = first; i < entries_.size(); ++i) out.push_back(std::move(entries_[i].sym));
    entries_.resize(first);
  });
}

void ParseStack::reduce_top(size_t n, const std::shared_ptr<const std::string>& name, uint64_t target, Ref value) {
  change([&] {
    if (n == 0) {
      entries_.emplace_back(target, PyParsedSymbol::at_start(name, std::move(value)));
      return;
    }
    const size_t first = entries_.size() - n;
    Entry& result = entries_[first];
    result.state = target;
    result.sym.sym_type = name;
    result.sym.endlineno = entries_.back().sym.endlineno;
    result.sym.endlexpos = entries_.back().sym.endlexpos;
    if (value) released_.push_back(std::exchange(result.sym.value, std::move(value)));
    for (size_t i = first + 1; i < entries_.size(); ++i) released_.push_back(std::move(entries_[i].sym.value));
    entries_.resize(first + 1);
  });
}

void ParseStack::hide_top(size_t n) {
  if (!borrow_.try_exclusive()) internal_failure("parser stack in use during a native step");
  ExclusiveGuard guard(&borrow_);
  hidden_ = n;
  check_invariant();
}

void ParseStack::reset() {
  change([&] {
    for (Entry& e : entries_) released_.push_back(std::move(e.sym.value));
    entries_.clear();
    entries_.push_back(bottom_entry());
  });
}

Result<PyParsedSymbol> ParseStack::item(int64_t i) {
  VX_TRY(auto guard, borrow_shared(borrow_));
  const auto n = static_cast<int64_t>(entries_.size() - hidden_);
  if (i < 0) i += n;
  if (i < 0 || i >= n) return Error::make(PyExc_IndexError, "parser stack index out of range");
  return entries_[static_cast<size_t>(i)].sym.clone_symbol();
}

int ParseStack::traverse(visitproc visit, void* arg) const {
  if (borrow_.held_exclusively()) return 0;
  for (const Entry& e : entries_) Py_VISIT(e.sym.value.get());
  return 0;
}

void ParseStack::clear() {
  if (!borrow_.try_exclusive()) return;
  std::vector<Entry> taken;
  {
    ExclusiveGuard guard(&borrow_);
    taken = std::exchange(entries_, {});
    hidden_ = 0;
  }
  // `taken` is released here, after the access was given back.
}

// --- the class ParserStack ----------------------------------------------------------

namespace {

TypeCell g_stack_type;

PyObject* stack_subscript(PyObject* self, PyObject* key) {
  return boundary([&]() -> Result<Ref> {
    Ref index = Ref::steal(PyNumber_Index(key));
    if (!index) return std::move(Error::pending()).with_argument_note("index");
    long long i = PyLong_AsLongLong(index.get());
    if (i == -1 && PyErr_Occurred()) return std::move(Error::pending()).with_argument_note("index");
    VX_TRY(PyParsedSymbol copy, parse_stack_of(self).item(i));
    return wrap_symbol(std::move(copy));
  });
}

PyObject* stack_sq_item(PyObject* self, Py_ssize_t i) {
  return boundary([&]() -> Result<Ref> {
    VX_TRY(PyParsedSymbol copy, parse_stack_of(self).item(i));
    return wrap_symbol(std::move(copy));
  });
}

int stack_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  return parse_stack_of(self).traverse(visit, arg);
}

int stack_clear(PyObject* self) {
  parse_stack_of(self).clear();
  return 0;
}

PyType_Slot kStackSlots[] = {
    {Py_tp_doc, const_cast<char*>("A live stack view for proxy actions. Symbols are converted only on access,\n"
                                  "so deeply nested inputs do not copy the entire stack on every reduction.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_box<ParseStack>)},
    {Py_tp_traverse, reinterpret_cast<void*>(stack_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(stack_clear)},
    {Py_mp_subscript, reinterpret_cast<void*>(stack_subscript)},
    {Py_sq_item, reinterpret_cast<void*>(stack_sq_item)},
    {0, nullptr},
};

PyType_Spec kStackSpec = {
    .name = "builtins.ParserStack",
    .basicsize = sizeof(Box<ParseStack>),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = kStackSlots,
};

}  // namespace

Result<PyTypeObject*> parser_stack_type() { return g_stack_type.get(kStackSpec, "ParserStack"); }

Result<Ref> new_parser_stack(ParseStack&& stack) {
  VX_TRY(PyTypeObject * tp, parser_stack_type());
  return new_box<ParseStack>(tp, std::move(stack));
}

ParseStack& parse_stack_of(PyObject* obj) noexcept { return unbox<ParseStack>(obj); }

}  // namespace vx
