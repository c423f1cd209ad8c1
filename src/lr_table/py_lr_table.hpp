// The Python class LRTable: a read-only view of one finished table record
// with the compact parse tables built from it.
#pragma once

#include <memory>

#include "binding/borrow.hpp"
#include "binding/error.hpp"
#include "lr_table/lr_table.hpp"

namespace vx {

struct PyLRTable {
  PyLRTable(LRTable t, std::shared_ptr<const ParserTables> p) : table(std::move(t)), tables(std::move(p)) {}
  LRTable table;
  std::shared_ptr<const ParserTables> tables;
  BorrowFlag borrow;
};

[[nodiscard]] Result<PyTypeObject*> lr_table_type();
// A new LRTable object holding `table` and `tables`.
[[nodiscard]] Result<Ref> wrap_lr_table(LRTable table, std::shared_ptr<const ParserTables> tables);
// The compact tables of an LRTable object (read under shared access).
// Anything else: "'{}' object is not an instance of 'LRTable'".
[[nodiscard]] Result<std::shared_ptr<const ParserTables>> shared_tables_of(PyObject* obj);

}  // namespace vx
