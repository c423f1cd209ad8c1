// The buffer of one native proxy reduction and its Python class
// _ReductionData.
//
// Item 0 is the result symbol (the left-hand side about to be pushed), items
// 1 to n the right-hand-side symbols, leftmost first. Symbols stay native
// records until Python asks for one as an object; from then on the item holds
// that ParsedSymbol object, and the record's fields live in it.
#pragma once

#include <cstddef>
#include <span>
#include <variant>
#include <vector>

#include "binding/error.hpp"
#include "binding/mutex_cell.hpp"
#include "parser/py_parsed_symbol.hpp"

namespace vx {

// A native record, or the ParsedSymbol object that stands for it.
using ReductionSymbol = std::variant<PyParsedSymbol, Ref>;

// The record of a _ReductionData object. It has no borrow flag: any thread
// may call these operations, and each takes the items' mutex itself. The
// mutex is held only for short native steps: no Python code runs, no Python
// object is made and no reference is released while it is held. It never
// waits for another lock while held; a view's data lock may be held while it
// is taken.
class ReductionData {
 public:
  ReductionData(PyParsedSymbol result, std::span<PyParsedSymbol> rhs);
  ReductionData(const ReductionData&) = delete;
  ReductionData& operator=(const ReductionData&) = delete;
  ~ReductionData();

  [[nodiscard]] size_t len();
  // A new reference to the value of item i.
  [[nodiscard]] Result<Ref> value(size_t i);
  // Replaces the value of item i; on failure `v` is released and nothing changes.
  [[nodiscard]] Void set_value(size_t i, Ref v);
  // None reads item 0's value; anything else is written to item 0 first and
  // the value is read back.
  [[nodiscard]] Result<Ref> result(Ref v);
  // An independent copy of item 0.
  [[nodiscard]] Result<PyParsedSymbol> lhs_snapshot();
  // Keeps item 0 and drops the right-hand side.
  void release_rhs_guard();
  // The ParsedSymbol object of item i, made on the first request.
  [[nodiscard]] Result<Ref> materialize_symbol(size_t i);

  // The garbage collector's traverse (never waits) and clear.
  int traverse(visitproc visit, void* arg);
  void clear();
  [[nodiscard]] bool poisoned() const noexcept { return items_.poisoned(); }

 private:
  MutexCell<std::vector<ReductionSymbol>> items_;
};

[[nodiscard]] Result<PyTypeObject*> reduction_data_type();
// A new _ReductionData object; the records are moved out of `rhs`.
[[nodiscard]] Result<Ref> new_reduction_data(PyParsedSymbol result, std::span<PyParsedSymbol> rhs);
// IndexError "reduction index out of range".
[[nodiscard]] Error reduction_index_error();
// True when `obj` is a _ReductionData object.
[[nodiscard]] bool is_reduction_data(PyObject* obj) noexcept;
// The record of a _ReductionData object.
[[nodiscard]] ReductionData& reduction_data(PyObject* obj) noexcept;

}  // namespace vx
