// A topological order of the live nodes kept up to date as edges arrive, so that the cycle test
// of an insertion usually needs no search at all, and the searches that remain cost about
// m^1.5 in total over m insertions, whatever their order (two-way search with levels: Bender,
// Fineman, Gilbert and Tarjan's algorithm for sparse graphs).
//
// Every node has a level and a position; the order is by level, then by position, and every
// edge runs forward in it. An edge that already runs forward cannot close a cycle. Otherwise a
// search backward from the source among the nodes of its level, cut off after about sqrt(m)
// edges, either finds all of them (and moves them to the front of the level) or lifts the
// target one level above the source; a search forward from the target then lifts every
// descendant below the target's new level up to it. Levels only rise, and each rise is paid for
// by the edges that forced it, which bounds the total.
#pragma once

#include <cstdint>
#include <vector>

#include "graph/flat_successors.hpp"
#include "graph/stable_graph.hpp"

namespace torvex {

class DynamicTopoOrder {
 public:
  // Gives a new node the first level and the position after every other. Requires room (see
  // reserve_for).
  void on_add_node(NodeIndex n) noexcept { key_[n] = {kFirstLevel, 0, ++max_position_}; }
  // Makes room for a node in slot n; call before the store changes.
  void reserve_for(NodeIndex n);
  void reserve(std::size_t slots) { key_.reserve(slots); }

  // Whether inserting from -> to keeps the graph acyclic; when it does, the order is updated so
  // that from precedes to. Nothing changes when it would close a cycle.
  // Complexity: O(1) when the order already agrees or an endpoint is a source/sink; otherwise
  // O(sqrt(E)) for the backward search plus the forward search, O(E^1.5) over any E insertions.
  bool order_edge(const StableGraph& graph, NodeIndex from, NodeIndex to);

  // The constant-time part of order_edge: true when the edge is accepted without a search (the
  // order agrees, or an endpoint is a source or a sink and is moved). False means order_edge
  // must search.
  bool order_edge_without_search(const StableGraph& graph, NodeIndex from, NodeIndex to);
  // The rest of order_edge, for a caller whose order_edge_without_search said false.
  bool order_edge_by_search(const StableGraph& graph, NodeIndex from, NodeIndex to);

  // Whether a comes before b in the order.
  bool precedes(NodeIndex a, NodeIndex b) const noexcept { return key_[a] < key_[b]; }
  // Hints that n's place is about to be compared (no observable effect).
  void prefetch(NodeIndex n) const noexcept { __builtin_prefetch(&key_[n]); }

  // Places every live node anew along `order`, a topological order of all of them, for edges
  // that went in without order_edge: each on the level of its longest path from a source, so
  // that later searches stay within few nodes of a level.
  // Complexity: O(V + E).
  void assign(const std::vector<NodeIndex>& order, const FlatSuccessors& successors);

  // Nodes and edges visited by the searches so far: callers that insert many edges compare it
  // with the cost of one check of the whole graph.
  std::uint64_t search_work() const noexcept { return work_; }
  // What the searches of the latest edges cost per edge, on a running average (0 for edges that
  // needed none): callers weigh a batch's pass over the whole graph against it.
  double recent_work_per_edge() const noexcept { return recent_work_; }
  // Edges that arrived otherwise, all placed by the order already: searches are not expected.
  void note_placed_edges() noexcept { recent_work_ = 0; }

 private:
  static constexpr std::uint32_t kFirstLevel = 1;
  // The search's mark sits beside the level (in what would be padding), so that a search reads
  // one line per node it meets.
  struct Key {
    std::uint32_t level;
    std::uint32_t mark;  // stamp_: found by the backward search
    std::int64_t position;
    friend bool operator<(const Key& a, const Key& b) noexcept {
      return a.level != b.level ? a.level < b.level : a.position < b.position;
    }
  };

  // The constant-time cases of order_edge_without_search, without the bookkeeping.
  bool place_without_search(const StableGraph& graph, NodeIndex from, NodeIndex to);
  // The searches of order_edge, once the constant-time cases did not apply.
  bool search_and_place(const StableGraph& graph, NodeIndex from, NodeIndex to);
  void note_work(std::uint64_t work) noexcept {
    recent_work_ += (static_cast<double>(work) - recent_work_) / 256;
  }
  // Collects `from` and the nodes of its level that reach it into backward_, scanning at most
  // `limit` edges. False when `to` reaches `from`; `complete` says whether the search ended
  // within the limit.
  bool search_backward(const StableGraph& graph, NodeIndex from, NodeIndex to, std::size_t limit,
                       bool& complete);
  // Lifts `to` and every descendant below `level` to it, into forward_ in finishing order. False
  // (with every level as it was) when it meets a node of backward_.
  bool lift_forward(const StableGraph& graph, NodeIndex to, std::uint32_t level);
  // Gives `nodes` new positions before every other, keeping their order among themselves.
  void move_to_front(std::vector<NodeIndex>& nodes);
  void begin_search();

  std::vector<Key> key_;
  std::int64_t min_position_ = 0;
  std::int64_t max_position_ = 0;
  // search state, reused between insertions
  std::uint32_t stamp_ = 0;
  std::uint64_t work_ = 0;
  double recent_work_ = 0;
  struct Frame {
    NodeIndex node;
    EdgeIndex edge;  // the next edge of node's outgoing list to follow
  };
  std::vector<NodeIndex> stack_, backward_, forward_;
  std::vector<Frame> frames_;
  std::vector<std::pair<NodeIndex, std::uint32_t>> lifted_;  // node, level before
};

}  // namespace torvex
