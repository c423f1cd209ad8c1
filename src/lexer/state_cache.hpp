// The token loop's look-up of the current state, remembered: every scan asks
// for the state the engine is in, which changes seldom.
#pragma once

#include <memory>
#include <string>

#include "common/text.hpp"

namespace vx::lex {

// The entry of the last state looked up, by the name object that named it.
// The engine makes a new name object at every change of state, so an entry
// found for the same object is the same state, without hashing its name; a
// new object of the same text (a state entered again) finds it too, by one
// comparison. The entries of a TextMap stay where they are while the map
// lives, and states are never removed one by one: only a table replaced
// whole (the engine cleared) makes the entry stale, and drop() says so.
template <class V>
class StateCache {
 public:
  // The entry of the state that `name` names in `table`, or nullptr when
  // there is none.
  [[nodiscard]] V* find(TextMap<V>& table, const std::shared_ptr<const std::string>& name) {
    if (entry_) {
      if (name_ == name) return entry_;
      if (*name_ == *name) {
        name_ = name;
        return entry_;
      }
    }
    auto it = table.find(*name);
    if (it == table.end()) return nullptr;
    name_ = name;  // kept alive, so no other name object can take its address
    entry_ = &it->second;
    return entry_;
  }

  // The table was replaced: nothing found before is valid.
  void drop() noexcept {
    entry_ = nullptr;
    name_.reset();
  }

 private:
  std::shared_ptr<const std::string> name_;
  V* entry_ = nullptr;
};

}  // namespace vx::lex
