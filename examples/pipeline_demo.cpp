// A little build pipeline: compile two sources, link, test and package; refuse a cycle;
// print the orders.
#include <iostream>
#include <string>

#include "graph/dag.hpp"

namespace {

void print_list(const char* title, const torvex::GraphStore& dag, const torvex::IndexList& list) {
  std::cout << title << ":";
  for (torvex::NodeIndex n : list)
    std::cout << ' ' << dag.graph().name(n);
  std::cout << '\n';
}

}  // namespace

int main() {
  torvex::DAG<std::string> dag;
  for (const char* step : {"fetch", "compile_core", "compile_cli", "link", "test", "package"}) {
    if (!dag.add_node(step, std::string("step ") + step).ok())
      return 1;
  }
  const std::pair<const char*, const char*> edges[] = {
      {"fetch", "compile_core"}, {"fetch", "compile_cli"}, {"compile_core", "link"},
      {"compile_cli", "link"},   {"link", "test"},         {"test", "package"},
  };
  for (auto [from, to] : edges) {
    if (!dag.add_edge(from, to, std::nullopt, std::nullopt).ok())
      return 1;
  }

  auto refused = dag.add_edge("package", "fetch", std::nullopt, std::nullopt);
  if (!refused.ok())
    std::cout << "refused: " << refused.error().display() << '\n';

  print_list("kahn order", dag, *dag.topological_sort().value());
  print_list("depth-first order", dag, *dag.topological_sort_dfs().value());
  const auto levels = dag.topological_levels().value();
  for (std::size_t k = 0; k < levels->size(); ++k) {
    print_list(("level " + std::to_string(k)).c_str(), dag, (*levels)[k]);
  }
  std::cout << "nodes: " << dag.node_count() << ", edges: " << dag.edge_count()
            << ", generation: " << dag.generation() << '\n';
  return 0;
}
