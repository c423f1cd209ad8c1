// The cells of one table row at a time, found by symbol.
//
// The filling of the action and goto rows meets a symbol again in the row it
// is filling (several items with the same symbol after the dot, several
// reductions on one lookahead) and has to find the cell it placed first. A
// stamp per symbol says whether the symbol has a number for the current row
// (the position of its cell, or the target of its transition), so starting
// the next row clears nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "grammar/grammar.hpp"

namespace vx {

// A number per symbol that holds for the current row only.
class RowIndex {
 public:
  explicit RowIndex(size_t num_symbols) : value_(num_symbols, 0), stamp_(num_symbols, 0) {}

  // Forgets every number: no symbol has one in the row that starts.
  void next_row() {
    if (++row_ == 0) {  // wrapped: forget every stamp
      std::fill(stamp_.begin(), stamp_.end(), 0);
      row_ = 1;
    }
  }

  // The number of `symbol` in the current row, if it has one.
  [[nodiscard]] const uint32_t* find(SymbolId symbol) const noexcept {
    return stamp_[symbol] == row_ ? &value_[symbol] : nullptr;
  }
  void set(SymbolId symbol, uint32_t value) noexcept {
    stamp_[symbol] = row_;
    value_[symbol] = value;
  }

 private:
  std::vector<uint32_t> value_;  // by symbol
  std::vector<uint32_t> stamp_;  // by symbol: the row in which its value holds
  uint32_t row_ = 1;             // stamps start at 0: no symbol has a value
};

// A row of cells, at most one per symbol, in order of placement.
template <class Cell>
class RowCells {
 public:
  explicit RowCells(size_t num_symbols) : pos_(num_symbols) {}

  void next_row() {
    cells_.clear();
    pos_.next_row();
  }

  // The cell of `symbol` in the current row and true when `cell` was
  // appended as that cell; the cell placed before and false when the
  // symbol had one (`cell` is then dropped).
  std::pair<Cell&, bool> place(SymbolId symbol, Cell cell) {
    if (const uint32_t* k = pos_.find(symbol)) return {cells_[*k], false};
    pos_.set(symbol, static_cast<uint32_t>(cells_.size()));
    cells_.push_back(std::move(cell));
    return {cells_.back(), true};
  }

  [[nodiscard]] std::span<const Cell> cells() const noexcept { return cells_; }

 private:
  std::vector<Cell> cells_;
  RowIndex pos_;  // by symbol: its cell's position in cells_
};

}  // namespace vx
