// Derived node lists held between calls, valid for one generation of the graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "graph/flat_successors.hpp"
#include "lists.hpp"
#include "types.hpp"

namespace torvex {

struct DagCache {
  SharedIndexList roots;
  SharedIndexList leaves;
  SharedIndexList topo_sort;
  SharedIndexList topo_sort_dfs;
  SharedLevels topo_levels;
  // Working forms shared by several computations; neither counted nor in size().
  SharedFlatSuccessors successors;
  SharedNamePrefixes name_prefixes;
  std::uint64_t cached_generation = 0;
  std::uint64_t hits = 0;
  std::uint64_t misses = 0;

  // Empties the five slots and the working forms; the generation and the counters stay.
  void invalidate() noexcept;
  // Number of filled slots, 0 to 5.
  std::size_t size() const noexcept;
};

}  // namespace torvex
