#include "graph/matching.hpp"

#include "algorithms/matching.hpp"

namespace torvex {

Result<std::vector<NodeId>> nodes_matching_regex(const GraphStore& store,
                                                 std::string_view pattern) {
  TORVEX_TRY(indices, algorithms::nodes_matching_regex(store.graph(), pattern));
  return store.node_ids(indices);
}

Result<std::vector<NodeId>> nodes_matching_glob(const GraphStore& store, std::string_view glob) {
  return nodes_matching_regex(store, algorithms::glob_to_regex(glob));
}

}  // namespace torvex
