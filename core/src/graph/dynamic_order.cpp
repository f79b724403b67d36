#include "graph/dynamic_order.hpp"

#include <algorithm>
#include <cmath>

namespace torvex {

namespace {

// The backward search's edge limit: a fixed share of sqrt(E), where the two searches' costs
// balance. The share was measured: smaller ones lift more nodes, larger ones search longer.
std::size_t backward_limit(const StableGraph& graph) {
  constexpr std::size_t kLeast = 32;
  const double root = std::sqrt(static_cast<double>(graph.edge_count()));
  return std::max(kLeast, static_cast<std::size_t>(root / 8));
}

}  // namespace

void DynamicTopoOrder::reserve_for(NodeIndex n) {
  if (key_.size() <= n)
    key_.resize(std::size_t{n} + 1, Key{kFirstLevel, 0, 0});
}

void DynamicTopoOrder::begin_search() {
  if (++stamp_ == 0) {
    for (Key& key : key_)
      key.mark = 0;
    stamp_ = 1;
  }
}

bool DynamicTopoOrder::order_edge_without_search(const StableGraph& graph, NodeIndex from,
                                                 NodeIndex to) {
  if (!place_without_search(graph, from, to))
    return false;
  note_work(0);
  return true;
}

bool DynamicTopoOrder::place_without_search(const StableGraph& graph, NodeIndex from,
                                            NodeIndex to) {
  if (from == to)
    return false;
  if (key_[from] < key_[to])
    return true;
  // A node without predecessors can go first, a node without successors last.
  if (graph.first_edge(from, Direction::Incoming) == kEnd) {
    key_[from].level = std::min(key_[from].level, key_[to].level);
    key_[from].position = --min_position_;
    return true;
  }
  if (graph.first_edge(to, Direction::Outgoing) == kEnd) {
    key_[to].level = key_[from].level;
    key_[to].position = ++max_position_;
    return true;
  }
  return false;
}

bool DynamicTopoOrder::search_backward(const StableGraph& graph, NodeIndex from, NodeIndex to,
                                       std::size_t limit, bool& complete) {
  const std::uint32_t level = key_[from].level;
  backward_.clear();
  stack_.clear();
  key_[from].mark = stamp_;
  backward_.push_back(from);
  stack_.push_back(from);
  // Counted here and added to work_ once, on every way out.
  std::size_t scanned = 0;
  std::size_t popped = 0;
  complete = false;
  bool acyclic = true;
  while (!stack_.empty()) {
    const NodeIndex u = stack_.back();
    stack_.pop_back();
    ++popped;
    for (EdgeIndex e = graph.first_edge(u, Direction::Incoming); e != kEnd;
         e = graph.next_edge(e, Direction::Incoming)) {
      if (scanned == limit) {
        work_ += popped + scanned;
        return true;
      }
      ++scanned;
      const NodeIndex w = graph.edge_source(e);
      if (w == to) {
        acyclic = false;
        break;
      }
      Key& key = key_[w];
      if (key.mark == stamp_ || key.level != level)
        continue;
      key.mark = stamp_;
      backward_.push_back(w);
      stack_.push_back(w);
    }
    if (!acyclic)
      break;
  }
  work_ += popped + scanned;
  complete = acyclic;
  return acyclic;
}

bool DynamicTopoOrder::lift_forward(const StableGraph& graph, NodeIndex to, std::uint32_t level) {
  forward_.clear();
  lifted_.clear();
  frames_.clear();
  std::size_t visited = 0;  // nodes lifted and edges scanned, added to work_ once
  auto lift = [&](NodeIndex n, Key& key) {
    lifted_.emplace_back(n, key.level);
    key.level = level;
    frames_.push_back({n, graph.first_edge(n, Direction::Outgoing)});
    ++visited;
  };
  lift(to, key_[to]);
  // Depth first, so that the finishing order, reversed, orders the lifted nodes.
  while (!frames_.empty()) {
    EdgeIndex e = frames_.back().edge;
    NodeIndex next = kEnd;
    while (e != kEnd && next == kEnd) {
      ++visited;
      const NodeIndex w = graph.edge_target(e);
      e = graph.next_edge(e, Direction::Outgoing);
      const Key& key = key_[w];
      if (key.mark == stamp_) {  // w reaches `from`: a cycle
        work_ += visited;
        for (auto it = lifted_.rbegin(); it != lifted_.rend(); ++it)
          key_[it->first].level = it->second;
        return false;
      }
      if (key.level < level)
        next = w;
    }
    if (next == kEnd) {
      forward_.push_back(frames_.back().node);
      frames_.pop_back();
      continue;
    }
    frames_.back().edge = e;
    lift(next, key_[next]);
  }
  work_ += visited;
  return true;
}

void DynamicTopoOrder::move_to_front(std::vector<NodeIndex>& nodes) {
  std::sort(nodes.begin(), nodes.end(),
            [&](NodeIndex a, NodeIndex b) { return key_[a].position < key_[b].position; });
  for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
    key_[*it].position = --min_position_;
}

bool DynamicTopoOrder::order_edge(const StableGraph& graph, NodeIndex from, NodeIndex to) {
  return order_edge_without_search(graph, from, to) || order_edge_by_search(graph, from, to);
}

bool DynamicTopoOrder::order_edge_by_search(const StableGraph& graph, NodeIndex from,
                                            NodeIndex to) {
  if (from == to)
    return false;
  const std::uint64_t work_before = work_;
  const bool placed = search_and_place(graph, from, to);
  note_work(work_ - work_before);
  return placed;
}

bool DynamicTopoOrder::search_and_place(const StableGraph& graph, NodeIndex from, NodeIndex to) {
  begin_search();
  const std::uint32_t level = key_[from].level;
  bool complete = false;
  if (!search_backward(graph, from, to, backward_limit(graph), complete))
    return false;
  if (complete && key_[to].level == level) {
    // Everything of the level that reaches `from` goes before the rest of the level.
    move_to_front(backward_);
    return true;
  }
  // `to` and what it reaches below the new level go up to it, before the nodes already there;
  // after the nodes of the level that reach `from`, when all of those were found.
  if (!lift_forward(graph, to, complete ? level : level + 1))
    return false;
  for (NodeIndex n : forward_)
    key_[n].position = --min_position_;
  if (complete)
    move_to_front(backward_);
  return true;
}

void DynamicTopoOrder::assign(const std::vector<NodeIndex>& order,
                              const FlatSuccessors& successors) {
  min_position_ = 0;
  max_position_ = 0;
  for (NodeIndex n : order)
    key_[n] = {kFirstLevel, 0, ++max_position_};
  for (NodeIndex n : order) {
    const std::uint32_t next = key_[n].level + 1;
    for (const NodeIndex* v = successors.begin(n); v != successors.end(n); ++v)
      key_[*v].level = std::max(key_[*v].level, next);
  }
}

}  // namespace torvex
