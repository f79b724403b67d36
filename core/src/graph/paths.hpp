// The paths topic: path queries between two named nodes.
// Each resolves the source name, then the target name, and reports the first one missing.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "algorithms/costs.hpp"
#include "errors.hpp"
#include "graph/dag.hpp"
#include "node.hpp"

namespace torvex {

// Every directed path from `from` to `to` in lexicographic name order, the first `limit` of them
// when given. `from` == `to` gives one one-node path whatever the limit.
// Returns: the paths (empty when `to` is unreachable). Errors: NodeNotFound (source first).
// Complexity: see algorithms::all_paths; the number of paths may be exponential in V.
Result<std::vector<std::vector<NodeId>>> all_paths(const GraphStore& store, std::string_view from,
                                                   std::string_view to,
                                                   std::optional<std::size_t> limit);

// A path with the fewest edges; of several, the first discovered (each node's edges newest first).
// Returns: the path, or nothing when `to` is unreachable. Errors: NodeNotFound (source first).
// Complexity: O(V + E).
Result<std::optional<std::vector<NodeId>>> shortest_path(const GraphStore& store,
                                                         std::string_view from,
                                                         std::string_view to);

struct NamedCostedPath {
  std::vector<NodeId> path;
  double total = 0.0;
};

// The path of greatest summed node cost, both ends included. A node missing from `costs` costs
// 1.0; names in `costs` that are not in the graph are ignored.
// Returns: the path and its total, or nothing when `to` is unreachable.
// Errors: NodeNotFound (source first); a name in `costs` is never an error.
// Complexity: O(V + E + |costs|) plus the sorting of the Kahn order.
Result<std::optional<NamedCostedPath>> longest_path(const GraphStore& store, std::string_view from,
                                                    std::string_view to, const CostMap& costs);

}  // namespace torvex
