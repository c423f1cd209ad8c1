// The ordered digraph traversal behind FIRST, FOLLOW and the LALR(1)
// lookaheads:
//
//   F(x) = initial(x) ∪ ⋃ { F(y) | x R y }
//
// computed by one depth-first walk that collapses strongly connected
// components (every node of a component ends with the list of its root).
// Sets are ordered, duplicate-free lists; unions are order-preserving
// (extend_unique), so the order of every result follows from the node order
// and the successor order alone. The walk keeps explicit stacks, so the depth
// of the relation is bounded by memory only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "common/internal_failure.hpp"

namespace vx {

// Order-preserving union over members below a fixed bound, with a stamp per
// member instead of a hash set.
class UniqueExtender {
 public:
  explicit UniqueExtender(size_t universe) : stamp_(universe, 0) {}

  // Appends to `target`, in source order, each source member not already in
  // `target` (or earlier in `source`). `target` and `source` must not alias.
  void extend(std::vector<uint32_t>& target, std::span<const uint32_t> source) {
    if (source.empty()) return;
    next_generation();
    for (uint32_t t : target) stamp_[t] = gen_;
    for (uint32_t s : source) {
      if (stamp_[s] != gen_) {
        stamp_[s] = gen_;
        target.push_back(s);
      }
    }
  }

 private:
  void next_generation() {
    if (++gen_ == 0) {  // wrapped: forget every stamp
      std::fill(stamp_.begin(), stamp_.end(), 0);
      gen_ = 1;
    }
  }
  std::vector<uint32_t> stamp_;
  uint32_t gen_ = 0;
};

// Runs the traversal over nodes 0 .. num_nodes - 1 in that order. `initial(x)`
// returns node x's initial list (a std::vector<uint32_t> of members below
// `universe`); `successors(x)` returns its successors, in order, as something
// iterable by index (size() and operator[]) that stays valid for the whole
// traversal. Both are called once per node, when it is entered, initial first.
template <class Initial, class Successors>
std::vector<std::vector<uint32_t>> ordered_digraph(size_t num_nodes, size_t universe, Initial&& initial,
                                                   Successors&& successors) {
  constexpr uint64_t kFinished = std::numeric_limits<uint64_t>::max();
  using SuccList = decltype(successors(uint32_t{0}));
  struct Frame {
    uint32_t node;
    uint64_t depth;
    SuccList succ;
    size_t next;
  };

  std::vector<uint64_t> depth(num_nodes, 0);
  std::vector<std::vector<uint32_t>> result(num_nodes);
  std::vector<uint32_t> node_stack;
  std::vector<Frame> frames;
  UniqueExtender extender(universe);

  auto enter = [&](uint32_t x) {
    node_stack.push_back(x);
    const uint64_t d = node_stack.size();
    depth[x] = d;
    result[x] = initial(x);
    frames.push_back(Frame{x, d, successors(x), 0});
  };
  auto propagate = [&](uint32_t y, uint32_t x) {  // merge y into x
    if (depth[y] < depth[x]) depth[x] = depth[y];
    if (x != y) extender.extend(result[x], result[y]);
  };

  for (uint32_t root = 0; root < num_nodes; ++root) {
    if (depth[root] != 0) continue;
    enter(root);
    while (!frames.empty()) {
      Frame& f = frames.back();
      if (f.next < f.succ.size()) {
        const uint32_t y = static_cast<uint32_t>(f.succ[f.next++]);
        if (y >= num_nodes) internal_failure("digraph: successor is not a node");
        if (depth[y] == 0) {
          enter(y);  // invalidates f
        } else {
          propagate(y, f.node);
        }
        continue;
      }
      const uint32_t node = f.node;
      const uint64_t entered = f.depth;
      frames.pop_back();
      if (depth[node] == entered) {
        // `node` is the root of a finished component.
        for (;;) {
          if (node_stack.empty()) internal_failure("digraph: node stack empty while closing a component");
          const uint32_t z = node_stack.back();
          node_stack.pop_back();
          depth[z] = kFinished;
          if (z == node) break;
          result[z] = result[node];
        }
      }
      if (!frames.empty()) propagate(node, frames.back().node);
    }
  }
  return result;
}

}  // namespace vx
