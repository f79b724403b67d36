// A topological order of the live nodes kept up to date as edges arrive, so that the cycle test
// of an insertion usually needs no search at all (dynamic topological ordering, Pearce and Kelly).
//
// Labels are distinct 64-bit integers; only their relative order matters. An edge u -> v with
// label(u) < label(v) cannot close a cycle. Otherwise only the region between the two labels is
// searched, and reordered when the edge is acyclic. A source moved to the front, or a sink moved to
// the back, avoids even that: no edge can run into a node without predecessors from its successors.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/stable_graph.hpp"

namespace torvex {

class DynamicTopoOrder {
 public:
  // Gives a new node the label after every other. Requires room (see reserve_for).
  void on_add_node(NodeIndex n) noexcept { label_[n] = ++max_label_; }
  // Makes room for a node in slot n; call before the store changes.
  void reserve_for(NodeIndex n);
  void reserve(std::size_t slots) { label_.reserve(slots); }

  // Whether inserting from -> to keeps the graph acyclic; when it does, the labels are updated so
  // that from precedes to. Nothing changes when it would close a cycle.
  // Complexity: O(1) when the labels already agree or an endpoint is a source/sink; otherwise
  // O(affected region + its edges, times log for the reordering).
  bool order_edge(const StableGraph& graph, NodeIndex from, NodeIndex to);

  // The constant-time part of order_edge: true when the edge is accepted without a search (the
  // labels agree, or an endpoint is a source or a sink and is moved). False means order_edge
  // must search.
  bool order_edge_without_search(const StableGraph& graph, NodeIndex from, NodeIndex to);

  std::int64_t label(NodeIndex n) const noexcept { return label_[n]; }
  // Hints that n's label is about to be compared (no observable effect).
  void prefetch(NodeIndex n) const noexcept { __builtin_prefetch(&label_[n]); }

  // Relabels every live node from scratch along `order`, a topological order of all of them, for
  // edges that went in without order_edge.
  void assign(const std::vector<NodeIndex>& order);

  // Nodes and edges visited by the searches so far: callers that insert many edges compare it
  // with the cost of one check of the whole graph.
  std::uint64_t search_work() const noexcept { return work_; }

 private:
  // Nodes reachable from `start` in direction d whose label lies strictly inside (low, high);
  // false as soon as `target` is met.
  bool collect(const StableGraph& graph, NodeIndex start, Direction d, std::int64_t low,
               std::int64_t high, NodeIndex target, std::vector<NodeIndex>& out);
  void begin_search(NodeIndex bound);

  std::vector<std::int64_t> label_;
  std::int64_t min_label_ = 0;
  std::int64_t max_label_ = 0;
  // search state, reused between insertions
  std::vector<std::uint32_t> mark_;
  std::uint32_t stamp_ = 0;
  std::uint64_t work_ = 0;
  std::vector<NodeIndex> stack_, forward_, backward_;
  std::vector<std::int64_t> labels_scratch_;
};

}  // namespace torvex
