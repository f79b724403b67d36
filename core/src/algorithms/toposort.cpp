#include "algorithms/toposort.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "interrupt.hpp"

namespace torvex::algorithms {

namespace {

// In-degree of every live slot (parallel edges counted each); vacant slots stay 0 and are skipped.
std::vector<std::uint32_t> in_degrees(const StableGraph& g) {
  // A sequential pass over the edge slots counts the same as walking every out-list, faster.
  std::vector<std::uint32_t> degree(g.node_bound(), 0);
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (g.is_edge_live(e)) ++degree[g.edge_target(e)];
  }
  return degree;
}

IndexList zero_degree_nodes(const StableGraph& g, const std::vector<std::uint32_t>& degree) {
  IndexList out;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && degree[n] == 0) out.push_back(n);
  }
  sort_by_name(g, out);
  return out;
}

TorvexError cycle() { return TorvexError::cycle(kGraphHasCycle); }

// The first eight bytes of a name, big-endian and zero-padded: comparing keys agrees with the
// name order wherever the keys differ.
std::uint64_t name_prefix(std::string_view name) noexcept {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, name.data(), std::min<std::size_t>(sizeof bytes, name.size()));
  std::uint64_t key = 0;
  for (unsigned char byte : bytes) key = (key << 8) | byte;
  return key;
}

}  // namespace

FlatSuccessors::FlatSuccessors(const StableGraph& graph)
    : start_(std::size_t{graph.node_bound()} + 1, 0), in_degree_(graph.node_bound(), 0) {
  // Count, then place: each edge's target goes into its source's range.
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    if (!graph.is_edge_live(e)) continue;
    ++start_[graph.edge_source(e) + 1];
    ++in_degree_[graph.edge_target(e)];
  }
  for (std::size_t n = 1; n < start_.size(); ++n) start_[n] += start_[n - 1];
  targets_.resize(start_.back());
  std::vector<std::uint32_t> next(start_.begin(), start_.end() - 1);
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    if (graph.is_edge_live(e)) targets_[next[graph.edge_source(e)]++] = graph.edge_target(e);
  }
}

void sort_by_name(const StableGraph& graph, IndexList& nodes) {
  if (nodes.size() < 2) return;
  auto by_name = [&](NodeIndex a, NodeIndex b) { return name_less(graph.name(a), graph.name(b)); };
  if (nodes.size() < 64) {
    std::stable_sort(nodes.begin(), nodes.end(), by_name);
    return;
  }
  // Large lists sort on inline prefixes and touch the names themselves only on ties.
  std::vector<std::pair<std::uint64_t, NodeIndex>> keyed;
  keyed.reserve(nodes.size());
  for (NodeIndex n : nodes) keyed.emplace_back(name_prefix(graph.name(n)), n);
  std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
    if (x.first != y.first) return x.first < y.first;
    return by_name(x.second, y.second);
  });
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = keyed[i].second;
}

Result<IndexList> topological_sort_kahn(const StableGraph& graph) {
  FlatSuccessors successors(graph);
  std::vector<std::uint32_t>& degree = successors.in_degree();
  // The output doubles as the FIFO queue: nodes leave the queue in the order they entered it.
  IndexList order = zero_degree_nodes(graph, degree);
  order.reserve(graph.node_count());
  for (std::size_t head = 0; head < order.size(); ++head) {
    // Walking the successors in name order appends exactly the released ones in name order,
    // so sorting only those gives the same queue at a fraction of the cost; and then the order
    // in which the successors are walked does not matter.
    const std::size_t released = order.size();
    for (const NodeIndex* v = successors.begin(order[head]); v != successors.end(order[head]); ++v) {
      if (--degree[*v] == 0) order.push_back(*v);
    }
    if (order.size() - released > 1) {
      std::stable_sort(order.begin() + static_cast<std::ptrdiff_t>(released), order.end(),
                       [&](NodeIndex a, NodeIndex b) {
                         return name_less(graph.name(a), graph.name(b));
                       });
    }
  }
  if (order.size() != graph.node_count()) return cycle();
  return order;
}

Result<IndexList> topological_sort_dfs(const StableGraph& graph) {
  enum : std::uint8_t { kUnvisited, kOnStack, kDone };
  std::vector<std::uint8_t> state(graph.node_bound(), kUnvisited);
  IndexList postorder;
  postorder.reserve(graph.node_count());

  // Explicit stack of frames; each frame's sorted children live in one shared buffer.
  // Positions fit 32 bits: pending never holds more entries than the graph has edges.
  struct Frame {
    NodeIndex node;
    std::uint32_t begin;  // this frame's children are pending[begin, end)
    std::uint32_t next;   // the next child to visit
    std::uint32_t end;
  };
  std::vector<Frame> frames;
  IndexList pending;
  bool met_stack = false;
  auto enter = [&](NodeIndex n) {
    state[n] = kOnStack;
    const auto begin = static_cast<std::uint32_t>(pending.size());
    // Children already done would be skipped anyway, so they need no sorting; a child on the
    // stack means a cycle whichever child comes first.
    graph.for_each_successor(n, [&](NodeIndex c) {
      if (state[c] == kOnStack) met_stack = true;
      if (state[c] == kUnvisited) pending.push_back(c);
    });
    std::stable_sort(pending.begin() + begin, pending.end(), [&](NodeIndex a, NodeIndex b) {
      return name_less(graph.name(a), graph.name(b));
    });
    frames.push_back(Frame{n, begin, begin, static_cast<std::uint32_t>(pending.size())});
  };

  IndexList starts = [&] {
    IndexList all;
    for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
      if (graph.is_live(n)) all.push_back(n);
    }
    sort_by_name(graph, all);
    return all;
  }();
  for (NodeIndex s : starts) {
    if (state[s] != kUnvisited) continue;
    enter(s);
    while (!frames.empty()) {
      if (met_stack) return cycle();
      Frame& top = frames.back();
      if (top.next < top.end) {
        const NodeIndex c = pending[top.next++];
        if (state[c] == kUnvisited) enter(c);  // invalidates `top`
        continue;
      }
      state[top.node] = kDone;
      postorder.push_back(top.node);
      pending.resize(top.begin);
      frames.pop_back();
    }
  }
  std::reverse(postorder.begin(), postorder.end());
  return postorder;
}

Result<Levels> topological_levels(const StableGraph& graph) {
  // Each level is sorted by name, so the order of a node's successors does not matter.
  FlatSuccessors successors(graph);
  std::vector<std::uint32_t>& degree = successors.in_degree();
  Levels levels;
  IndexList current = zero_degree_nodes(graph, degree);
  std::size_t processed = 0;
  while (!current.empty()) {
    processed += current.size();
    IndexList next;
    for (NodeIndex u : current) {
      for (const NodeIndex* v = successors.begin(u); v != successors.end(u); ++v) {
        if (--degree[*v] == 0) next.push_back(*v);
      }
    }
    sort_by_name(graph, next);
    levels.push_back(std::move(current));
    current = std::move(next);
  }
  if (processed != graph.node_count()) return cycle();
  return levels;
}

Result<std::vector<IndexList>> all_topological_orderings(const StableGraph& graph,
                                                         std::optional<std::size_t> limit) {
  std::vector<std::uint32_t> degree = in_degrees(graph);
  std::vector<IndexList> results;
  IndexList first_ready = zero_degree_nodes(graph, degree);
  if (graph.node_count() > 0 && first_ready.empty()) return cycle();

  auto limit_reached = [&] { return limit && results.size() >= *limit; };
  // A frame holds the ready list of one depth and the position of the next node to try there.
  struct Frame {
    IndexList ready;
    std::size_t next = 0;
    bool placed = false;  // ready[next - 1] is currently placed
  };
  std::vector<Frame> frames;
  IndexList current;
  IndexList released;  // successors of the node just placed whose count reached 0

  // Opens a depth with the given ready list, or records a complete ordering when it is empty.
  auto enter = [&](IndexList ready) {
    if (limit_reached()) return;
    if (ready.empty()) {
      if (!current.empty()) results.push_back(current);
      return;
    }
    frames.push_back(Frame{std::move(ready)});
  };
  auto place = [&](NodeIndex u) {
    current.push_back(u);
    released.clear();
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (--degree[v] == 0) released.push_back(v);
    });
  };
  auto unplace = [&](NodeIndex u) {
    graph.for_each_successor(u, [&](NodeIndex v) { ++degree[v]; });
    current.pop_back();
  };

  enter(std::move(first_ready));
  while (!frames.empty()) {
    interrupt::poll();
    Frame& top = frames.back();
    if (top.placed) {
      unplace(top.ready[top.next - 1]);
      top.placed = false;
    }
    if (top.next == top.ready.size() || limit_reached()) {
      frames.pop_back();
      continue;
    }
    const NodeIndex u = top.ready[top.next++];
    top.placed = true;
    place(u);
    // The next depth's ready list: this one without u, plus what u released.
    IndexList ready;
    ready.reserve(top.ready.size() - 1 + released.size());
    for (NodeIndex r : top.ready) {
      if (r != u) ready.push_back(r);
    }
    ready.insert(ready.end(), released.begin(), released.end());
    sort_by_name(graph, ready);
    enter(std::move(ready));  // may invalidate `top`
  }

  if (results.empty() || results.front().size() == graph.node_count()) return results;
  return cycle();
}

}  // namespace torvex::algorithms
