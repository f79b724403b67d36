// Slot-stable directed multigraph of named nodes and weighted, labelled edges.
//
// Node and edge slots are reused most recently freed first; every neighbour list gives the
// most recently added edge first. Both rules are observable through every scan and order.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"
#include "types.hpp"

namespace torvex {

class StableGraph {
 public:
  StableGraph() = default;
  StableGraph(const StableGraph&) = delete;
  StableGraph& operator=(const StableGraph&) = delete;

  // --- nodes ---------------------------------------------------------------------------
  // One past the highest slot ever used; scans run over [0, node_bound()) and skip vacant slots.
  NodeIndex node_bound() const noexcept { return static_cast<NodeIndex>(nodes_.size()); }
  bool is_live(NodeIndex n) const noexcept { return n < nodes_.size() && nodes_[n].live; }
  std::size_t node_count() const noexcept { return node_count_; }
  // Requires: is_live(n).
  std::string_view name(NodeIndex n) const noexcept { return nodes_[n].name; }
  EdgeIndex first_edge(NodeIndex n, Direction d) const noexcept {
    return heads_[n].first[static_cast<int>(d)];
  }

  // --- edges ---------------------------------------------------------------------------
  EdgeIndex edge_bound() const noexcept { return static_cast<EdgeIndex>(edges_.size()); }
  bool is_edge_live(EdgeIndex e) const noexcept {
    return e < edges_.size() && edges_[e].source != kEnd;
  }
  std::size_t edge_count() const noexcept { return edge_count_; }
  NodeIndex edge_source(EdgeIndex e) const noexcept { return edges_[e].source; }
  NodeIndex edge_target(EdgeIndex e) const noexcept { return edges_[e].target; }
  double edge_weight(EdgeIndex e) const noexcept { return weights_.empty() ? 1.0 : weights_[e]; }
  // Null when the edge has no label.
  const std::string* edge_label(EdgeIndex e) const noexcept {
    if (labels_.empty())
      return nullptr;
    auto it = labels_.find(e);
    return it == labels_.end() ? nullptr : it->second.get();
  }
  // Takes the label out of e (null when it has none), for callers that move edges.
  std::unique_ptr<std::string> take_label(EdgeIndex e) noexcept;
  // The next edge of the same list (outgoing list of the source, or incoming list of the target).
  EdgeIndex next_edge(EdgeIndex e, Direction d) const noexcept {
    return edges_[e].next[static_cast<int>(d)];
  }
  // The node at the far end of e when walking in direction d.
  NodeIndex edge_endpoint(EdgeIndex e, Direction d) const noexcept {
    return d == Direction::Outgoing ? edges_[e].target : edges_[e].source;
  }

  // Calls f(neighbour, edge) for every edge of n's list in direction d, newest edge first.
  template <class F>
  void for_each_edge(NodeIndex n, Direction d, F&& f) const {
    const int k = static_cast<int>(d);
    for (EdgeIndex e = heads_[n].first[k]; e != kEnd; e = edges_[e].next[k]) {
      f(d == Direction::Outgoing ? edges_[e].target : edges_[e].source, e);
    }
  }
  template <class F>
  void for_each_successor(NodeIndex n, F&& f) const {
    for_each_edge(n, Direction::Outgoing, [&](NodeIndex v, EdgeIndex) { f(v); });
  }
  template <class F>
  void for_each_predecessor(NodeIndex n, F&& f) const {
    for_each_edge(n, Direction::Incoming, [&](NodeIndex v, EdgeIndex) { f(v); });
  }
  std::size_t degree(NodeIndex n, Direction d) const noexcept;

  // The first edge of a's outgoing list whose target is b (the most recently added such edge).
  EdgeIndex find_edge(NodeIndex a, NodeIndex b) const noexcept;

  // --- mutation ------------------------------------------------------------------------
  // Takes the top vacant slot, or appends one.
  // Errors: Graph when every 32-bit slot is in use.
  // Invalidates: nothing but the slot it fills.
  Result<NodeIndex> add_node(std::string name);

  // Links a new edge at the front of a's outgoing and b's incoming list. Requires both live.
  // Errors: Graph when every 32-bit edge slot is in use.
  Result<EdgeIndex> add_edge(NodeIndex a, NodeIndex b, double weight,
                             std::unique_ptr<std::string> label);

  // Unlinks e from both lists and pushes its slot on the vacant edge stack.
  void remove_edge(EdgeIndex e) noexcept;

  // Removes n's outgoing edges head first, then its incoming edges head first, then the node.
  void remove_node(NodeIndex n) noexcept;

  // Hints that n's list heads are about to be written (no observable effect).
  void prefetch_heads(NodeIndex n) const noexcept { __builtin_prefetch(&heads_[n], 1); }

  // Reserves room for this many more nodes and edges (no observable effect).
  void reserve(std::size_t nodes, std::size_t edges);

 private:
  struct NodeSlot {
    std::string name;
    bool live = false;
  };
  // The list heads apart from the names: inserting an edge touches 8 bytes per endpoint, in an
  // array dense enough to stay in cache far longer than the slots.
  struct Heads {
    EdgeIndex first[2] = {kEnd, kEnd};  // indexed by Direction
  };
  // Weights and labels live beside the slots: most graphs have neither, and pay nothing for them.
  struct EdgeSlot {
    NodeIndex source = kEnd;  // kEnd marks a vacant slot
    NodeIndex target = kEnd;
    EdgeIndex next[2] = {kEnd, kEnd};
  };

  void unlink(EdgeIndex e, Direction d) noexcept;

  std::vector<NodeSlot> nodes_;
  std::vector<Heads> heads_;  // by node slot
  std::vector<EdgeSlot> edges_;
  std::vector<double> weights_;  // by edge slot; empty while every weight is 1.0
  boost::unordered_flat_map<EdgeIndex, std::unique_ptr<std::string>> labels_;
  std::vector<NodeIndex> vacant_nodes_;  // top = back
  std::vector<EdgeIndex> vacant_edges_;
  std::size_t node_count_ = 0;
  std::size_t edge_count_ = 0;
};

}  // namespace torvex
