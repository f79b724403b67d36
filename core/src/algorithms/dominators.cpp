#include "algorithms/dominators.hpp"

#include <cassert>

namespace torvex::algorithms {

NodeIndex intersect(const DominatorMap& idom, const std::vector<std::size_t>& position, NodeIndex a,
                    NodeIndex b) {
  // An immediate dominator always sits earlier in the order, so moving the later finger up
  // makes the two meet at the nearest common dominator.
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

DominatorMap immediate_dominators(const StableGraph& graph, NodeIndex root,
                                  const IndexList& order) {
  const NodeIndex bound = graph.node_bound();
  DominatorMap idom(bound, kEnd);
  if (root >= bound)
    return idom;

  std::vector<std::size_t> position(bound, 0);
  for (std::size_t i = 0; i < order.size(); ++i)
    position[order[i]] = i;

  idom[root] = root;
  for (NodeIndex n : order) {
    if (n == root)
      continue;
    // Fold every predecessor the root reaches into one candidate. The nearest common dominator
    // does not depend on the folding order, so no sort by position is needed.
    NodeIndex candidate = kEnd;
    graph.for_each_predecessor(n, [&](NodeIndex p) {
      if (idom[p] == kEnd)
        return;
      candidate = candidate == kEnd ? p : intersect(idom, position, candidate, p);
    });
    idom[n] = candidate;
  }
  return idom;
}

}  // namespace torvex::algorithms
