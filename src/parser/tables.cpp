#include "parser/tables.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/internal_failure.hpp"

namespace vx {
namespace {

// Ids are 32-bit; a list of more names than that cannot be numbered.
void check_symbol_count(size_t n) {
  if (n > size_t{std::numeric_limits<uint32_t>::max()} + 1) {
    internal_failure("parse tables: more than 4294967296 distinct symbol names");
  }
}

template <class Cell>
void sort_row(std::vector<Cell>& row) {
  std::sort(row.begin(), row.end(), [](const Cell& a, const Cell& b) { return a.id < b.id; });
}

template <class Cell>
void build_csr(uint64_t num_states, std::vector<std::pair<uint64_t, std::vector<Cell>>>& rows,
               std::vector<size_t>& begin, std::vector<Cell>& cells) {
  // Keep the rows of real states that hold something, in state order.
  std::erase_if(rows, [&](const auto& r) { return r.first >= num_states || r.second.empty(); });
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  begin.clear();
  cells.clear();
  if (rows.empty()) return;
  const uint64_t last = rows.back().first;
  size_t total = 0;
  for (const auto& r : rows) total += r.second.size();
  begin.reserve(static_cast<size_t>(last) + 2);
  cells.reserve(total);
  begin.push_back(0);
  uint64_t next_state = 0;
  for (auto& r : rows) {
    if (r.first < next_state) internal_failure("parse tables: two rows for one state");
    while (next_state < r.first) {  // empty rows before this one
      begin.push_back(cells.size());
      ++next_state;
    }
    sort_row(r.second);
    cells.insert(cells.end(), r.second.begin(), r.second.end());
    begin.push_back(cells.size());
    ++next_state;
    std::vector<Cell>().swap(r.second);
  }
}

}  // namespace

void ParserTables::lay_out(ActionRows action_rows, GotoRows goto_rows) {
  build_csr(num_states_, action_rows, action_begin_, action_cells_);
  build_csr(num_states_, goto_rows, goto_begin_, goto_cells_);
}

std::shared_ptr<const ParserTables> ParserTables::create(uint64_t num_states, ActionMap action, GotoMap goto_map) {
  std::shared_ptr<ParserTables> t(new ParserTables());
  t->num_states_ = num_states;

  // 1-2. Every key of every row, whatever its state, sorted by bytes (the
  // comparison of std::string is that of unsigned chars) and numbered.
  std::vector<const std::string*> keys;
  for (const auto& [state, row] : action)
    for (const auto& [name, entry] : row) keys.push_back(&name);
  for (const auto& [state, row] : goto_map)
    for (const auto& [name, target] : row) keys.push_back(&name);
  std::sort(keys.begin(), keys.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
  keys.erase(std::unique(keys.begin(), keys.end(), [](const std::string* a, const std::string* b) { return *a == *b; }),
             keys.end());
  check_symbol_count(keys.size());
  t->names_by_id_.reserve(keys.size());
  for (const std::string* key : keys) t->names_by_id_.push_back(*key);
  keys.clear();
  t->index_names();

  // 3-4. Rows of real states, each sorted by id.
  auto id_of = [&](const std::string& name) { return *t->symbol_id(name); };
  ActionRows action_rows;
  for (auto& [state, row] : action) {
    if (state >= num_states) continue;
    std::vector<ActionCell> cells;
    cells.reserve(row.size());
    for (const auto& [name, entry] : row) cells.push_back({id_of(name), entry.has_value(), entry.value_or(0)});
    action_rows.emplace_back(state, std::move(cells));
  }
  ActionMap().swap(action);
  GotoRows goto_rows;
  for (auto& [state, row] : goto_map) {
    if (state >= num_states) continue;
    std::vector<GotoCell> cells;
    cells.reserve(row.size());
    for (const auto& [name, target] : row) cells.push_back({id_of(name), target});
    goto_rows.emplace_back(state, std::move(cells));
  }
  GotoMap().swap(goto_map);
  t->lay_out(std::move(action_rows), std::move(goto_rows));
  return t;
}

std::shared_ptr<const ParserTables> ParserTables::from_indexed_rows(uint64_t num_states,
                                                                   std::span<const std::string> names,
                                                                   std::span<const IndexedRows> rows) {
  std::shared_ptr<ParserTables> t(new ParserTables());
  t->num_states_ = num_states;

  // Names that rows use, sorted by bytes, duplicates merged.
  std::vector<uint8_t> used(names.size(), 0);
  auto use = [&](uint32_t index) {
    if (index >= names.size()) internal_failure("parse tables: row names a symbol index out of range");
    used[index] = 1;
  };
  for (const auto& r : rows) {
    for (const auto& c : r.action) use(c.name);
    for (const auto& c : r.goto_) use(c.name);
  }
  std::vector<uint32_t> order;
  for (uint32_t i = 0; i < names.size(); ++i)
    if (used[i]) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return names[a] < names[b]; });
  std::vector<uint32_t> id_of_index(names.size(), 0);
  uint32_t next_id = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    if (k > 0 && names[order[k]] != names[order[k - 1]]) ++next_id;
    id_of_index[order[k]] = next_id;
  }
  const size_t count = order.empty() ? 0 : size_t{next_id} + 1;
  check_symbol_count(count);
  t->names_by_id_.resize(count);
  for (uint32_t index : order) t->names_by_id_[id_of_index[index]] = names[index];
  t->index_names();

  ActionRows action_rows;
  GotoRows goto_rows;
  for (const auto& r : rows) {
    std::vector<ActionCell> a;
    a.reserve(r.action.size());
    for (const auto& c : r.action) a.push_back({id_of_index[c.name], c.entry.has_value(), c.entry.value_or(0)});
    std::vector<GotoCell> g;
    g.reserve(r.goto_.size());
    for (const auto& c : r.goto_) g.push_back({id_of_index[c.name], c.target});
    action_rows.emplace_back(r.state, std::move(a));
    goto_rows.emplace_back(r.state, std::move(g));
  }
  t->lay_out(std::move(action_rows), std::move(goto_rows));
  return t;
}

namespace {

// FNV-1a: symbol names are short, and this is cheaper than a general hash.
uint64_t name_hash(std::string_view name) noexcept {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : name) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

}  // namespace

void ParserTables::index_names() {
  size_t size = 8;
  while (size < 2 * names_by_id_.size()) size *= 2;
  name_slots_.assign(size, 0);
  const size_t mask = size - 1;
  for (uint32_t id = 0; id < names_by_id_.size(); ++id) {
    size_t i = name_hash(names_by_id_[id]) & mask;
    while (name_slots_[i] != 0) i = (i + 1) & mask;
    name_slots_[i] = id + 1;
  }
}

std::optional<uint32_t> ParserTables::symbol_id(std::string_view name) const {
  if (name_slots_.empty()) return std::nullopt;
  const size_t mask = name_slots_.size() - 1;
  for (size_t i = name_hash(name) & mask; name_slots_[i] != 0; i = (i + 1) & mask) {
    const uint32_t id = name_slots_[i] - 1;
    if (names_by_id_[id] == name) return id;
  }
  return std::nullopt;
}

}  // namespace vx
