// The lookups a parse repeats, remembered: symbol ids by name object, and
// action and goto answers by (state, id). The tables never change, so an
// answer once found stays right, also from one parse to the next.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "parser/parse_step.hpp"
#include "parser/tables.hpp"

namespace vx::parse {

// Symbol ids by the identity of a name object: the tokens of one lexer rule
// share their type name, so most lookaheads find their id without hashing
// the text. A slot keeps its name alive, so an address seen again is the
// same text.
class SymbolIdCache {
 public:
  [[nodiscard]] std::optional<uint32_t> lookup(const ParserTables& t, const std::shared_ptr<const std::string>& name) {
    Slot& s = slots_[(reinterpret_cast<uintptr_t>(name.get()) >> 4) % kSlots];
    if (s.name != name) {
      s.id = t.symbol_id(*name);
      s.name = name;
    }
    return s.id;
  }

 private:
  static constexpr size_t kSlots = 64;
  struct Slot {
    std::shared_ptr<const std::string> name;
    std::optional<uint32_t> id;
  };
  std::array<Slot, kSlots> slots_;
};

// The results of pure table lookups by (state, id), kept in a small
// direct-mapped cache: a parse asks the same few questions over and over.
template <class V>
class LookupCache {
 public:
  // `slots_wanted` is rounded up to a power of two, at least 16.
  explicit LookupCache(size_t slots_wanted) {
    while ((size_t{1} << bits_) < slots_wanted) ++bits_;
    slots_.resize(size_t{1} << bits_);
  }
  template <class Compute>
  [[nodiscard]] V get(uint64_t state, uint32_t id, Compute&& compute) {
    Slot& s = slots_[(((state << 32) ^ id) * 0x9E3779B97F4A7C15ull) >> (64 - bits_)];
    if (!s.filled || s.state != state || s.id != id) {
      s = Slot{state, id, true, compute()};
    }
    return s.value;
  }

 private:
  struct Slot {
    uint64_t state = 0;
    uint32_t id = 0;
    bool filled = false;
    V value{};
  };
  unsigned bits_ = 4;
  std::vector<Slot> slots_;
};

// The lookups that parses over one engine's tables repeat.
struct LookupCaches {
  // Sized by the tables: about four answers per state, up to 512.
  explicit LookupCaches(const ParserTables& t)
      : actions(static_cast<size_t>(std::min<uint64_t>(t.num_states(), 128)) * 4),
        gotos(static_cast<size_t>(std::min<uint64_t>(t.num_states(), 128)) * 4) {}
  SymbolIdCache ids;
  LookupCache<OwnLookup> actions;                // own_action by (state, id)
  LookupCache<std::optional<uint64_t>> gotos;    // goto targets by (state, id)
};

// One spare set of caches kept with an engine between its parses: a parse
// takes it, or makes a new set while another parse holds it, and puts it
// back at its end. The answers stay right from one parse to the next, so a
// short parse neither allocates nor clears them.
class CacheShelf {
 public:
  CacheShelf() = default;
  CacheShelf(const CacheShelf&) = delete;
  CacheShelf& operator=(const CacheShelf&) = delete;
  ~CacheShelf() { delete spare_.load(std::memory_order_acquire); }

  [[nodiscard]] std::unique_ptr<LookupCaches> take(const ParserTables& t) {
    if (LookupCaches* c = spare_.exchange(nullptr, std::memory_order_acq_rel)) return std::unique_ptr<LookupCaches>(c);
    return std::make_unique<LookupCaches>(t);
  }
  void put_back(std::unique_ptr<LookupCaches> c) noexcept {
    LookupCaches* expected = nullptr;
    if (spare_.compare_exchange_strong(expected, c.get(), std::memory_order_acq_rel)) c.release();
  }

 private:
  std::atomic<LookupCaches*> spare_{nullptr};
};

}  // namespace vx::parse
