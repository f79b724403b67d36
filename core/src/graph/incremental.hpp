// The incremental topic: dirty set and change provenance by name.
// Both resolve every changed name first, in order, and report the first one missing; neither
// reads nor fills the cache.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "graph/dag.hpp"

namespace torvex {

// The changed nodes and all their descendants, each once, in no defined order.
// Errors: NodeNotFound with the first missing name. Complexity: O(V + E).
Result<std::vector<std::string>> dirty_set(const GraphStore& store,
                                           std::span<const std::string> changed);

// A dirty node's name and the names of the changed nodes it depends on: itself first when it
// changed, then its changed ancestors, nearer ones first.
struct NamedProvenance {
  std::string node;
  std::vector<std::string> sources;
};

// One entry per dirty node, in no defined order.
// Errors: NodeNotFound with the first missing name.
// Complexity: see algorithms::change_provenance; O(E * K) for K changed nodes at worst.
Result<std::vector<NamedProvenance>> change_provenance(const GraphStore& store,
                                                       std::span<const std::string> changed);

}  // namespace torvex
