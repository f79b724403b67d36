// Every slot's successors in one flat array, with every slot's in-degree (parallel edges counted
// each): the form that whole-graph passes read fastest. Kept in the cache beside the derived
// lists, so the batch cycle check, the Kahn order and the levels build it once per generation.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "graph/stable_graph.hpp"

namespace torvex {

// Within one node the successors come in edge slot order, not list order: only for algorithms
// whose result does not depend on the order of a node's successors.
// Complexity: two sequential passes over the edge slots; 4(2V + E) bytes.
class FlatSuccessors {
 public:
  explicit FlatSuccessors(const StableGraph& graph);

  const NodeIndex* begin(NodeIndex n) const noexcept { return targets_.data() + start_[n]; }
  const NodeIndex* end(NodeIndex n) const noexcept { return targets_.data() + start_[n + 1]; }
  // In-degree per slot; callers count down a copy.
  const std::vector<std::uint32_t>& in_degree() const noexcept { return in_degree_; }

 private:
  std::vector<std::uint32_t> start_;
  std::vector<NodeIndex> targets_;
  std::vector<std::uint32_t> in_degree_;
};

using SharedFlatSuccessors = std::shared_ptr<const FlatSuccessors>;

// Per slot, the first eight bytes of the node's name, big-endian and zero-padded (0 for vacant
// slots): comparing keys agrees with the name order wherever the keys differ, so sorts by name
// touch the names themselves only on ties.
using NamePrefixes = std::vector<std::uint64_t>;
using SharedNamePrefixes = std::shared_ptr<const NamePrefixes>;

std::uint64_t name_prefix(std::string_view name) noexcept;
NamePrefixes name_prefixes(const StableGraph& graph);

// Kahn's algorithm in any order, for the cycle check: the live nodes in a topological order, or
// fewer of them than the graph has when it holds a cycle.
std::vector<NodeIndex> any_topological_order(const StableGraph& graph, const FlatSuccessors& flat);

}  // namespace torvex
