// The validation topic: the cycle report over strongly connected components.
#include "algorithms/cycle.hpp"
#include "graph/dag.hpp"

namespace torvex {

Status GraphStore::validate() const {
  return algorithms::validate_acyclic(graph_);
}

}  // namespace torvex
