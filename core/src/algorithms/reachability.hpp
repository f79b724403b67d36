// A precomputed reachability relation: one bit row per node, over the graph as it was built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "errors.hpp"
#include "graph/cache.hpp"
#include "graph/stable_graph.hpp"

namespace torvex::algorithms {

// Rows and columns are positions in the Kahn order of the build: bit q of row p is set exactly
// when the node at position q is reachable from the node at position p (reflexively). The index
// keeps no reference to the graph; later changes to the graph are not seen, and a slot reused
// after the build still answers as the node it held then.
// Immutable after build: any number of threads may query one index at once.
class ReachabilityIndex {
 public:
  // Builds the rows in one backward pass over the Kahn order: a node's row is its own bit ORed
  // with the rows of its successors, which are final by then.
  // Errors: Cycle "Graph contains a cycle" (the graph has no topological order).
  // Throws: std::bad_alloc when the rows (about V²/8 bytes) cannot be had, and before trying
  // when they would exceed the machine's physical memory.
  // Complexity: O(V + E · V/64) time, V²/8 bytes for the rows plus O(node slots).
  static Result<ReachabilityIndex> build(const StableGraph& graph);

  // Whether `to` is reachable from `from` along zero or more edges; false when either was not a
  // live node at build time. Complexity: O(1).
  bool can_reach(NodeIndex from, NodeIndex to) const noexcept;

  // Every node reachable from `node` along one or more edges, in the Kahn order of the build;
  // empty for a node not in the index. Complexity: O(V/64 + results).
  IndexList reachable_from(NodeIndex node) const;

  // Every node from which `node` is reachable along one or more edges, in the Kahn order of the
  // build; empty for a node not in the index. Complexity: O(V).
  IndexList ancestors_of(NodeIndex node) const;

  // Live nodes at build time.
  std::size_t node_count() const noexcept { return order_.size(); }
  std::size_t words_per_row() const noexcept { return words_per_row_; }
  // The Kahn order of the build; a node's position in it is its row.
  const IndexList& order() const noexcept { return order_; }
  // The position of a node of the build, or nothing.
  std::optional<std::size_t> position(NodeIndex node) const noexcept;

 private:
  struct FreeWords {
    void operator()(std::uint64_t* words) const noexcept { std::free(words); }
  };

  ReachabilityIndex() = default;
  std::uint64_t* row(std::size_t p) noexcept { return rows_.get() + p * words_per_row_; }
  const std::uint64_t* row(std::size_t p) const noexcept {
    return rows_.get() + p * words_per_row_;
  }

  IndexList order_;
  IndexList position_by_slot_;  // kEnd for slots that were not live at build time
  // node_count() rows of words_per_row_ words, zero-filled by calloc so that untouched pages
  // cost nothing: a row has no bit below its own position, and those words are never written.
  std::unique_ptr<std::uint64_t[], FreeWords> rows_;
  std::size_t words_per_row_ = 0;
};

}  // namespace torvex::algorithms
