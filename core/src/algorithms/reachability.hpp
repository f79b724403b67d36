// A precomputed reachability relation: one bit row per node, over the graph as it was built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Rows and columns are positions in the Kahn order of the build: bit q of row p is set exactly
// when the node at position q is reachable from the node at position p (reflexively). A node
// reaches only later positions, so row p is stored from its own word on: a triangle of words. The
// index keeps no reference to the graph; later changes to the graph are not seen, and a slot reused
// after the build still answers as the node it held then.
// Immutable after build: any number of threads may query one index at once.
class ReachabilityIndex {
 public:
  // Builds the rows in one backward pass over the Kahn order: a node's row is its own bit ORed
  // with the rows of its successors, which are final by then.
  // Errors: Cycle "Graph contains a cycle" (the graph has no topological order).
  // Throws: std::bad_alloc when the rows (about V²/16 bytes) cannot be had, and before trying
  // when they would exceed the machine's physical memory.
  // Complexity: O(V + E · V/64) time, V²/16 bytes for the rows plus O(node slots).
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
  // Words of the first, longest row; row p holds the words from p / 64 on.
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
  // Row p, indexed by absolute word: only words p / 64 onwards may be read or written.
  std::uint64_t* row(std::size_t p) noexcept { return rows_.get() + row_base(p); }
  const std::uint64_t* row(std::size_t p) const noexcept { return rows_.get() + row_base(p); }
  // Where row p's word 0 would sit: rows before p take words_per_row_ - q / 64 words each, so
  // this is never negative (each of them takes at least one word).
  std::size_t row_base(std::size_t p) const noexcept {
    return row_offset(p, words_per_row_) - p / 64;
  }
  // Words taken by the rows before p.
  static std::size_t row_offset(std::size_t p, std::size_t words_per_row) noexcept {
    const std::size_t blocks = p / 64;
    // Each full block of 64 rows before p shares one length; then p % 64 rows of p's block.
    const std::size_t block_words =
        blocks * words_per_row - (blocks == 0 ? 0 : blocks * (blocks - 1) / 2);
    return 64 * block_words + (p % 64) * (words_per_row - blocks);
  }

  IndexList order_;
  IndexList position_by_slot_;  // kEnd for slots that were not live at build time
  // The triangle of rows, zero-filled by calloc.
  std::unique_ptr<std::uint64_t[], FreeWords> rows_;
  std::size_t words_per_row_ = 0;
};

}  // namespace torvex::algorithms
