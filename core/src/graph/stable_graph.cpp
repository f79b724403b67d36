#include "graph/stable_graph.hpp"

#include <algorithm>

namespace torvex {

namespace {
constexpr std::size_t kMaxSlots = kEnd;  // slot kEnd itself is never used

// Geometric growth, so that the later push_back of a freed slot never allocates.
template <class V>
void grow_to_hold(V& v, std::size_t n) {
  if (v.capacity() < n)
    v.reserve(std::max(n, v.capacity() * 2));
}
}  // namespace

std::size_t StableGraph::degree(NodeIndex n, Direction d) const noexcept {
  std::size_t count = 0;
  const int k = static_cast<int>(d);
  for (EdgeIndex e = heads_[n].first[k]; e != kEnd; e = edges_[e].next[k])
    ++count;
  return count;
}

EdgeIndex StableGraph::find_edge(NodeIndex a, NodeIndex b) const noexcept {
  for (EdgeIndex e = heads_[a].first[0]; e != kEnd; e = edges_[e].next[0]) {
    if (edges_[e].target == b)
      return e;
  }
  return kEnd;
}

Result<NodeIndex> StableGraph::add_node(std::string name) {
  NodeIndex n;
  if (!vacant_nodes_.empty()) {
    n = vacant_nodes_.back();
    vacant_nodes_.pop_back();
  } else {
    if (nodes_.size() >= kMaxSlots) {
      return TorvexError::graph("Node index space exhausted");
    }
    // remove_node must not allocate: keep the vacant stack able to hold every slot.
    grow_to_hold(vacant_nodes_, nodes_.size() + 1);
    grow_to_hold(heads_, nodes_.size() + 1);
    nodes_.emplace_back();
    heads_.emplace_back();  // capacity reserved above
    n = static_cast<NodeIndex>(nodes_.size() - 1);
  }
  NodeSlot& slot = nodes_[n];
  slot.name = std::move(name);
  heads_[n] = Heads{};
  slot.live = true;
  ++node_count_;
  return n;
}

Result<EdgeIndex> StableGraph::add_edge(NodeIndex a, NodeIndex b, double weight,
                                        std::unique_ptr<std::string> label) {
  const bool reuse = !vacant_edges_.empty();
  if (!reuse && edges_.size() >= kMaxSlots) {
    return TorvexError::graph("Edge index space exhausted");
  }
  // Every allocation first, so that a failed one leaves the graph as it was.
  const std::size_t bound = reuse ? edges_.size() : edges_.size() + 1;
  if (!reuse) {
    grow_to_hold(vacant_edges_, bound);
    grow_to_hold(edges_, bound);
  }
  // The first weight other than 1.0 starts the weight table.
  const bool weighted = !weights_.empty() || !(weight == 1.0);
  if (weighted)
    grow_to_hold(weights_, std::max(bound, edges_.capacity()));
  if (label)
    labels_.reserve(labels_.size() + 1);

  EdgeIndex e;
  if (reuse) {
    e = vacant_edges_.back();
    vacant_edges_.pop_back();
  } else {
    edges_.emplace_back();
    e = static_cast<EdgeIndex>(edges_.size() - 1);
  }
  if (weighted) {
    if (weights_.size() < bound)
      weights_.resize(bound, 1.0);  // capacity reserved above
    weights_[e] = weight;
  }
  if (label)
    labels_.emplace(e, std::move(label));
  EdgeSlot& slot = edges_[e];
  slot.source = a;
  slot.target = b;
  slot.next[0] = heads_[a].first[0];
  heads_[a].first[0] = e;
  slot.next[1] = heads_[b].first[1];
  heads_[b].first[1] = e;
  ++edge_count_;
  return e;
}

std::unique_ptr<std::string> StableGraph::take_label(EdgeIndex e) noexcept {
  if (labels_.empty())
    return nullptr;
  auto it = labels_.find(e);
  if (it == labels_.end())
    return nullptr;
  std::unique_ptr<std::string> label = std::move(it->second);
  labels_.erase(it);
  return label;
}

void StableGraph::unlink(EdgeIndex e, Direction d) noexcept {
  const int k = static_cast<int>(d);
  const NodeIndex owner = d == Direction::Outgoing ? edges_[e].source : edges_[e].target;
  EdgeIndex* link = &heads_[owner].first[k];
  while (*link != e)
    link = &edges_[*link].next[k];
  *link = edges_[e].next[k];
}

void StableGraph::remove_edge(EdgeIndex e) noexcept {
  unlink(e, Direction::Outgoing);
  unlink(e, Direction::Incoming);
  EdgeSlot& slot = edges_[e];
  if (!labels_.empty())
    labels_.erase(e);
  if (!weights_.empty())
    weights_[e] = 1.0;
  slot.source = slot.target = kEnd;
  slot.next[0] = slot.next[1] = kEnd;
  vacant_edges_.push_back(e);  // capacity reserved in add_edge
  --edge_count_;
}

void StableGraph::remove_node(NodeIndex n) noexcept {
  while (heads_[n].first[0] != kEnd)
    remove_edge(heads_[n].first[0]);
  while (heads_[n].first[1] != kEnd)
    remove_edge(heads_[n].first[1]);
  NodeSlot& slot = nodes_[n];
  slot.name = std::string();
  slot.live = false;
  vacant_nodes_.push_back(n);  // capacity reserved in add_node
  --node_count_;
}

void StableGraph::reserve(std::size_t nodes, std::size_t edges) {
  // Geometric, so that many small reservations (a list of edges at a time) do not copy the
  // arrays once each.
  if (nodes) {
    grow_to_hold(nodes_, nodes_.size() + nodes);
    grow_to_hold(heads_, heads_.size() + nodes);
  }
  if (edges)
    grow_to_hold(edges_, edges_.size() + edges);
  if (!weights_.empty())
    weights_.reserve(edges_.capacity());
}

}  // namespace torvex
