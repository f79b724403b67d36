// Path queries between two nodes: every path, the fewest edges, the greatest node cost.
// Every function requires `source` and `target` to be live slots of `graph`.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "algorithms/costs.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Every directed path from `source` to `target`, depth-first with each node's successors in name
// order, so without parallel edges the paths come in lexicographic order of their name sequences;
// the first `limit` of them when a limit is given. Each parallel edge is followed on its own, so
// a path repeats once per combination of parallel edges along it, and the search below a doubled
// edge is repeated whole. source == target gives [[source]] whatever the limit, 0 included.
// Returns: the paths, each from source to target inclusive; empty when target is unreachable.
// Complexity: one backward search over the target's ancestors to prune dead ends, then
// O(output length · degree log degree): every node entered leads to at least one path.
// Iterative: the depth of a path costs heap, not stack.
std::vector<IndexList> all_paths(const StableGraph& graph, NodeIndex source, NodeIndex target,
                                 std::optional<std::size_t> limit);

// A path with the fewest edges. Breadth-first, each node's edges newest first; the target is
// taken when first discovered, so of several shortest paths the first discovered wins.
// Returns: the path from source to target inclusive ([source] when they are equal), or
// nothing when target is unreachable.
// Complexity: O(nodes and edges visited before target is discovered).
std::optional<IndexList> shortest_path(const StableGraph& graph, NodeIndex source,
                                       NodeIndex target);

struct CostedPath {
  IndexList path;
  double total = 0.0;
};

// The path of greatest summed node cost (both ends included), relaxing edges over the Kahn order,
// each node's edges newest first. Only a strictly greater candidate replaces a distance, so the
// first path to reach a maximum keeps it; comparisons with NaN are false, so a NaN candidate never
// sets a distance, and a candidate of -inf never creates one.
// A node without an entry in `costs` costs the map's fallback. Edge weights play no part.
// Returns: the path and its total, or nothing when target is unreachable or the graph has no
// topological order.
// Complexity: O(V + E) plus the sorting of the Kahn order.
std::optional<CostedPath> longest_path(const StableGraph& graph, NodeIndex source, NodeIndex target,
                                       const NodeValues& costs);

}  // namespace torvex::algorithms
