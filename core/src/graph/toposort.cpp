// The toposort topic: the cached orders and the enumeration of all orderings.
#include "algorithms/toposort.hpp"

#include "graph/cache_access.hpp"

namespace torvex {

Result<SharedIndexList> GraphStore::topological_sort() const {
  return with_cache_result(&DagCache::topo_sort, [&] {
    return algorithms::topological_sort_kahn(graph_, *flat_successors(), *name_prefixes());
  });
}

Result<SharedIndexList> GraphStore::topological_sort_dfs() const {
  return with_cache_result(&DagCache::topo_sort_dfs,
                           [&] { return algorithms::topological_sort_dfs(graph_); });
}

Result<SharedLevels> GraphStore::topological_levels() const {
  return with_cache_result(&DagCache::topo_levels, [&] {
    return algorithms::topological_levels(graph_, *flat_successors(), *name_prefixes());
  });
}

Result<std::vector<IndexList>> GraphStore::all_topological_orderings(
    std::optional<std::size_t> limit) const {
  return algorithms::all_topological_orderings(graph_, limit);
}

}  // namespace torvex
