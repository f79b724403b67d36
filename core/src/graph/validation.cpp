// The validation topic: the cycle report over strongly connected components.
#include "algorithms/cycle.hpp"
#include "graph/dag.hpp"

namespace torvex {

Status GraphStore::validate() const {
  std::vector<IndexList> kept;
  for (IndexList& component : algorithms::tarjan_scc(graph_)) {
    const bool self_loop =
        component.size() == 1 && graph_.find_edge(component[0], component[0]) != kEnd;
    if (component.size() >= 2 || self_loop) kept.push_back(std::move(component));
  }
  if (kept.empty()) return {};
  std::string text = "Graph contains " + std::to_string(kept.size()) + " cycle(s): [";
  for (std::size_t c = 0; c < kept.size(); ++c) {
    if (c) text.append(", ");
    for (std::size_t i = 0; i < kept[c].size(); ++i) {
      if (i) text.append(" -> ");
      text.append(graph_.name(kept[c][i]));
    }
  }
  text.append("]");
  return TorvexError::cycle(std::move(text));
}

}  // namespace torvex
