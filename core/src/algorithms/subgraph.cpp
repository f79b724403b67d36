#include "algorithms/subgraph.hpp"

#include <cstddef>
#include <vector>

#include "algorithms/node_set.hpp"

namespace torvex::algorithms {

IndexList depth_neighborhood(const StableGraph& graph, NodeIndex start, std::uint64_t max_depth,
                             NeighborhoodDirection direction) {
  IndexList found{start};
  if (start >= graph.node_bound() || max_depth == 0)
    return found;

  const bool forward = direction != kNeighborhoodBackward;
  const bool backward = direction != kNeighborhoodForward;
  NodeSet seen(graph.node_bound());
  seen.insert(start);
  // `found` doubles as the queue; nodes are discovered level by level, so a level ends where
  // the previous level's expansion stopped.
  std::size_t head = 0;
  for (std::uint64_t depth = 0; depth < max_depth && head < found.size(); ++depth) {
    const std::size_t level_end = found.size();
    for (; head < level_end; ++head) {
      auto visit = [&](NodeIndex v) {
        if (seen.insert(v))
          found.push_back(v);
      };
      if (forward)
        graph.for_each_successor(found[head], visit);
      if (backward)
        graph.for_each_predecessor(found[head], visit);
    }
  }
  return found;
}

}  // namespace torvex::algorithms
