#include "algorithms/toposort.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

IndexList zero_degree_nodes(const StableGraph& g, const NamePrefixes& prefixes,
                            const std::vector<std::uint32_t>& degree) {
  IndexList out;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && degree[n] == 0) out.push_back(n);
  }
  sort_by_name(g, prefixes, out);
  return out;
}

TorvexError cycle() { return TorvexError::cycle(kGraphHasCycle); }

}  // namespace

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

namespace {

// Sorts [first, last) by name. Entries are distinct nodes or repeats of one, so stability
// changes nothing.
void sort_range(const StableGraph& graph, const NamePrefixes& prefixes, NodeIndex* first,
                NodeIndex* last) {
  const auto size = static_cast<std::size_t>(last - first);
  if (size < 2) return;
  if (size < 16) {
    auto by_name = [&](NodeIndex a, NodeIndex b) {
      if (prefixes[a] != prefixes[b]) return prefixes[a] < prefixes[b];
      return name_less(graph.name(a), graph.name(b));
    };
    for (std::size_t i = 1; i < size; ++i) {
      const NodeIndex n = first[i];
      std::size_t j = i;
      for (; j > 0 && by_name(n, first[j - 1]); --j) first[j] = first[j - 1];
      first[j] = n;
    }
    return;
  }
  // Sorting the keys beside the indices keeps the comparisons off the prefix array.
  std::vector<std::pair<std::uint64_t, NodeIndex>> keyed;
  keyed.reserve(size);
  for (NodeIndex* n = first; n != last; ++n) keyed.emplace_back(prefixes[*n], *n);
  std::sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
    if (x.first != y.first) return x.first < y.first;
    return name_less(graph.name(x.second), graph.name(y.second));
  });
  for (std::size_t i = 0; i < size; ++i) first[i] = keyed[i].second;
}

}  // namespace

void sort_by_name(const StableGraph& graph, const NamePrefixes& prefixes, IndexList& nodes) {
  sort_range(graph, prefixes, nodes.data(), nodes.data() + nodes.size());
}

Result<IndexList> topological_sort_kahn(const StableGraph& graph) {
  return topological_sort_kahn(graph, FlatSuccessors(graph), name_prefixes(graph));
}

Result<IndexList> topological_sort_kahn(const StableGraph& graph, const FlatSuccessors& successors,
                                        const NamePrefixes& prefixes) {
  std::vector<std::uint32_t> degree = successors.in_degree();
  // The output doubles as the FIFO queue: nodes leave the queue in the order they entered it.
  IndexList order = zero_degree_nodes(graph, prefixes, degree);
  order.reserve(graph.node_count());
  for (std::size_t head = 0; head < order.size(); ++head) {
    // Walking the successors in name order appends exactly the released ones in name order,
    // so sorting only those gives the same queue at a fraction of the cost; and then the order
    // in which the successors are walked does not matter.
    const std::size_t released = order.size();
    for (const NodeIndex* v = successors.begin(order[head]); v != successors.end(order[head]); ++v) {
      if (--degree[*v] == 0) order.push_back(*v);
    }
    sort_range(graph, prefixes, order.data() + released, order.data() + order.size());
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
  return topological_levels(graph, FlatSuccessors(graph), name_prefixes(graph));
}

Result<Levels> topological_levels(const StableGraph& graph, const FlatSuccessors& successors,
                                  const NamePrefixes& prefixes) {
  // Each level is sorted by name, so the order of a node's successors does not matter.
  std::vector<std::uint32_t> degree = successors.in_degree();
  Levels levels;
  IndexList current = zero_degree_nodes(graph, prefixes, degree);
  std::size_t processed = 0;
  while (!current.empty()) {
    processed += current.size();
    IndexList next;
    for (NodeIndex u : current) {
      for (const NodeIndex* v = successors.begin(u); v != successors.end(u); ++v) {
        if (--degree[*v] == 0) next.push_back(*v);
      }
    }
    sort_by_name(graph, prefixes, next);
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
