#include "graph/transforms.hpp"

#include "algorithms/dominators.hpp"
#include "algorithms/toposort.hpp"

namespace torvex {

Result<std::vector<std::pair<std::string, std::string>>> dominator_tree(const GraphStore& store,
                                                                        std::string_view root) {
  TORVEX_TRY(root_index, store.resolve_name(root));
  const StableGraph& graph = store.graph();
  auto order = algorithms::topological_sort_kahn(graph);
  // Unlike every other order user, a failed order is reported as a graph error here.
  if (!order.ok())
    return TorvexError::graph(order.error().text());

  const algorithms::DominatorMap idom = algorithms::immediate_dominators(graph, root_index, *order);
  IndexList dominated;
  for (NodeIndex n = 0; n < idom.size(); ++n) {
    if (idom[n] != kEnd)
      dominated.push_back(n);
  }
  algorithms::sort_by_name(graph, dominated);

  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(dominated.size());
  for (NodeIndex n : dominated)
    out.emplace_back(graph.name(n), graph.name(idom[n]));
  return out;
}

}  // namespace torvex
