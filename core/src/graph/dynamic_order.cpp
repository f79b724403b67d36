#include "graph/dynamic_order.hpp"

#include <algorithm>

namespace torvex {

void DynamicTopoOrder::reserve_for(NodeIndex n) {
  if (label_.size() <= n)
    label_.resize(std::size_t{n} + 1, 0);
}

void DynamicTopoOrder::begin_search(NodeIndex bound) {
  if (mark_.size() < bound)
    mark_.resize(bound, 0);
  if (++stamp_ == 0) {
    std::fill(mark_.begin(), mark_.end(), 0);
    stamp_ = 1;
  }
}

bool DynamicTopoOrder::collect(const StableGraph& graph, NodeIndex start, Direction d,
                               std::int64_t low, std::int64_t high, NodeIndex target,
                               std::vector<NodeIndex>& out) {
  out.clear();
  stack_.clear();
  mark_[start] = stamp_;
  stack_.push_back(start);
  while (!stack_.empty()) {
    const NodeIndex u = stack_.back();
    stack_.pop_back();
    out.push_back(u);
    ++work_;
    for (EdgeIndex e = graph.first_edge(u, d); e != kEnd; e = graph.next_edge(e, d)) {
      ++work_;
      const NodeIndex w = graph.edge_endpoint(e, d);
      if (w == target)
        return false;
      if (mark_[w] == stamp_ || label_[w] <= low || label_[w] >= high)
        continue;
      mark_[w] = stamp_;
      stack_.push_back(w);
    }
  }
  return true;
}

bool DynamicTopoOrder::order_edge_without_search(const StableGraph& graph, NodeIndex from,
                                                 NodeIndex to) {
  if (from == to)
    return false;
  if (label_[from] < label_[to])
    return true;
  // A node without predecessors can go first, a node without successors last.
  if (graph.first_edge(from, Direction::Incoming) == kEnd) {
    label_[from] = --min_label_;
    return true;
  }
  if (graph.first_edge(to, Direction::Outgoing) == kEnd) {
    label_[to] = ++max_label_;
    return true;
  }
  return false;
}

bool DynamicTopoOrder::order_edge(const StableGraph& graph, NodeIndex from, NodeIndex to) {
  if (from == to)
    return false;
  if (order_edge_without_search(graph, from, to))
    return true;
  const std::int64_t low = label_[to], high = label_[from];
  // Forward from `to` inside the region: meeting `from` means the edge closes a cycle.
  begin_search(graph.node_bound());
  if (!collect(graph, to, Direction::Outgoing, low - 1, high, from, forward_))
    return false;
  begin_search(graph.node_bound());
  (void)collect(graph, from, Direction::Incoming, low, high + 1, kEnd, backward_);

  // Everything that reaches `from` goes before everything `to` reaches, in the same label slots.
  auto by_label = [&](NodeIndex a, NodeIndex b) { return label_[a] < label_[b]; };
  std::sort(backward_.begin(), backward_.end(), by_label);
  std::sort(forward_.begin(), forward_.end(), by_label);
  labels_scratch_.clear();
  for (NodeIndex n : backward_)
    labels_scratch_.push_back(label_[n]);
  for (NodeIndex n : forward_)
    labels_scratch_.push_back(label_[n]);
  std::sort(labels_scratch_.begin(), labels_scratch_.end());
  std::size_t i = 0;
  for (NodeIndex n : backward_)
    label_[n] = labels_scratch_[i++];
  for (NodeIndex n : forward_)
    label_[n] = labels_scratch_[i++];
  return true;
}

void DynamicTopoOrder::assign(const std::vector<NodeIndex>& order) {
  min_label_ = 0;
  max_label_ = 0;
  for (NodeIndex n : order)
    label_[n] = ++max_label_;
}

}  // namespace torvex
