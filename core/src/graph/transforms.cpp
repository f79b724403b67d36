#include "graph/transforms.hpp"

#include "algorithms/dominators.hpp"
#include "algorithms/node_set.hpp"
#include "algorithms/toposort.hpp"
#include "interrupt.hpp"

namespace torvex {

Result<std::vector<std::pair<std::string, std::string>>> dominator_tree(const GraphStore& store,
                                                                        std::string_view root) {
  TORVEX_TRY(root_index, store.resolve_name(root));
  const StableGraph& graph = store.graph();
  auto idom = algorithms::immediate_dominators(graph, root_index);
  // Unlike every other order user, a failed order is reported as a graph error here.
  if (!idom.ok())
    return TorvexError::graph(idom.error().text());

  IndexList dominated;
  algorithms::NodeIndexMap dominator_of(graph.node_bound());
  dominated.reserve(idom->size());
  for (const auto& [node, dominator] : *idom) {
    interrupt::poll();
    dominated.push_back(node);
    dominator_of.try_emplace(node, dominator);
  }
  algorithms::sort_by_name(graph, dominated);

  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(dominated.size());
  for (NodeIndex n : dominated) {
    interrupt::poll();
    out.emplace_back(graph.name(n), graph.name(dominator_of.find(n)));
  }
  return out;
}

}  // namespace torvex
