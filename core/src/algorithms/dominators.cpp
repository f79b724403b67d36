#include "algorithms/dominators.hpp"

#include <cassert>
#include <cstdint>

#include "algorithms/node_set.hpp"

namespace torvex::algorithms {
namespace {

// The nearest common dominator of a and b, in local numbers. An immediate dominator always sits
// earlier in the order, so moving the later finger up makes the two meet there.
NodeIndex intersect(const IndexList& idom, const IndexList& position, NodeIndex a, NodeIndex b) {
  while (a != b) {
    if (position[a] > position[b]) {
      a = idom[a];
    } else {
      b = idom[b];
    }
    assert(a != kEnd && b != kEnd);
  }
  return a;
}

}  // namespace

Result<DominatorList> immediate_dominators(const StableGraph& graph, NodeIndex root) {
  DominatorList out;
  if (!graph.is_live(root))
    return out;

  // Number the reached nodes 0.. in discovery order; the root is 0.
  NodeIndexMap number(graph.node_bound());
  IndexList reached{root};
  number.try_emplace(root, 0);
  for (std::size_t head = 0; head < reached.size(); ++head) {
    graph.for_each_successor(reached[head], [&](NodeIndex v) {
      if (number.try_emplace(v, static_cast<NodeIndex>(reached.size())))
        reached.push_back(v);
    });
  }

  // A topological order of the reached nodes (Kahn over their in-degrees among themselves).
  const std::size_t count = reached.size();
  std::vector<std::uint32_t> degree(count, 0);
  for (NodeIndex u : reached)
    graph.for_each_successor(u, [&](NodeIndex v) { ++degree[number.find(v)]; });
  IndexList order;
  order.reserve(count);
  if (degree[0] == 0)
    order.push_back(0);
  for (std::size_t head = 0; head < order.size(); ++head) {
    graph.for_each_successor(reached[order[head]], [&](NodeIndex v) {
      const NodeIndex local = number.find(v);
      if (--degree[local] == 0)
        order.push_back(local);
    });
  }
  if (order.size() != count)
    return TorvexError::cycle(kGraphHasCycle);
  IndexList position(count, 0);
  for (std::size_t i = 0; i < count; ++i)
    position[order[i]] = static_cast<NodeIndex>(i);

  // One pass: fold every reached predecessor into one candidate. The nearest common dominator
  // does not depend on the folding order, so no sort by position is needed.
  IndexList idom(count, kEnd);
  idom[0] = 0;
  for (std::size_t i = 1; i < count; ++i) {
    const NodeIndex n = order[i];
    NodeIndex candidate = kEnd;
    graph.for_each_predecessor(reached[n], [&](NodeIndex p) {
      const NodeIndex local = number.find(p);
      if (local == kEnd)
        return;
      candidate = candidate == kEnd ? local : intersect(idom, position, candidate, local);
    });
    idom[n] = candidate;
  }

  out.reserve(count);
  for (std::size_t n = 0; n < count; ++n)
    out.emplace_back(reached[n], reached[idom[n]]);
  return out;
}

}  // namespace torvex::algorithms
