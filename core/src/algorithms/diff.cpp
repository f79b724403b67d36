#include "algorithms/diff.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

#include "algorithms/toposort.hpp"
#include "interrupt.hpp"
#include "lists.hpp"

namespace torvex::algorithms {
namespace {

// The live slots of a graph in name order, and each slot's position in that order.
struct NameOrder {
  IndexList sorted;
  std::vector<NodeIndex> rank;  // by slot

  explicit NameOrder(const StableGraph& graph) : rank(graph.node_bound(), kEnd) {
    sorted.reserve(graph.node_count());
    for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
      interrupt::poll();
      if (graph.is_live(n))
        sorted.push_back(n);
    }
    sort_by_name(graph, sorted);
    for (NodeIndex i = 0; i < sorted.size(); ++i) {
      interrupt::poll();
      rank[sorted[i]] = i;
    }
  }

  // Ranks of both ends as one key: sorting keys sorts pairs by source name, then target name.
  std::uint64_t key(NodeIndex source, NodeIndex target) const noexcept {
    return (std::uint64_t{rank[source]} << 32) | rank[target];
  }
  NamePair names(const StableGraph& graph, std::uint64_t key) const {
    return {std::string(graph.name(sorted[key >> 32])),
            std::string(graph.name(sorted[static_cast<NodeIndex>(key)]))};
  }
};

// Walks every distinct (source, target) pair of `from` once, with its most recently added edge
// (the first met on the source's outgoing list), and tells whether `to` holds the matched pair
// and by which edge: f(source, target, edge in from, edge in to or kEnd).
template <class F>
void for_each_pair(const StableGraph& from, const StableGraph& to,
                   const std::vector<NodeIndex>& match, F&& f) {
  std::vector<NodeIndex> from_seen(from.node_bound(), kEnd);  // last source that met the target
  std::vector<NodeIndex> to_seen(to.node_bound(), kEnd);
  std::vector<EdgeIndex> to_edge(to.node_bound(), kEnd);
  for (NodeIndex u = 0; u < from.node_bound(); ++u) {
    interrupt::poll();
    if (!from.is_live(u))
      continue;
    const NodeIndex mu = match[u];
    if (mu != kEnd) {
      to.for_each_edge(mu, Direction::Outgoing, [&](NodeIndex v, EdgeIndex e) {
        interrupt::poll();
        if (to_seen[v] != mu)
          to_seen[v] = mu, to_edge[v] = e;
      });
    }
    from.for_each_edge(u, Direction::Outgoing, [&](NodeIndex v, EdgeIndex e) {
      interrupt::poll();
      if (from_seen[v] == u)
        return;  // a parallel edge
      from_seen[v] = u;
      const NodeIndex mv = match[v];
      const bool shared = mu != kEnd && mv != kEnd && to_seen[mv] == mu;
      f(u, v, e, shared ? to_edge[mv] : kEnd);
    });
  }
}

}  // namespace

StructuralDiff structural_diff(const StableGraph& a, const StableGraph& b) {
  StructuralDiff diff;
  const NameOrder a_order(a);
  const NameOrder b_order(b);

  // Nodes: merging the two name orders matches names and yields every list sorted.
  std::vector<NodeIndex> a_to_b(a.node_bound(), kEnd);
  std::vector<NodeIndex> b_to_a(b.node_bound(), kEnd);
  std::size_t i = 0, j = 0;
  while (i < a_order.sorted.size() || j < b_order.sorted.size()) {
    interrupt::poll();
    const NodeIndex x = i < a_order.sorted.size() ? a_order.sorted[i] : kEnd;
    const NodeIndex y = j < b_order.sorted.size() ? b_order.sorted[j] : kEnd;
    if (y == kEnd || (x != kEnd && name_less(a.name(x), b.name(y)))) {
      diff.nodes_only_in_a.emplace_back(a.name(x));
      ++i;
    } else if (x == kEnd || name_less(b.name(y), a.name(x))) {
      diff.nodes_only_in_b.emplace_back(b.name(y));
      ++j;
    } else {
      a_to_b[x] = y;
      b_to_a[y] = x;
      diff.nodes_in_both.emplace_back(a.name(x));
      diff.nodes_in_both_slots.emplace_back(x, y);
      ++i, ++j;
    }
  }

  // Edges: collect name-rank keys, sort the integers, then copy the names once.
  struct Common {
    std::uint64_t key;
    EdgeIndex in_a, in_b;
  };
  std::vector<std::uint64_t> only_a, only_b;
  std::vector<Common> common;
  for_each_pair(a, b, a_to_b, [&](NodeIndex u, NodeIndex v, EdgeIndex e, EdgeIndex in_b) {
    if (in_b == kEnd) {
      only_a.push_back(a_order.key(u, v));
    } else {
      common.push_back({a_order.key(u, v), e, in_b});
    }
  });
  for_each_pair(b, a, b_to_a, [&](NodeIndex u, NodeIndex v, EdgeIndex, EdgeIndex in_a) {
    if (in_a == kEnd)
      only_b.push_back(b_order.key(u, v));
  });
  std::sort(only_a.begin(), only_a.end(), interrupt::polling(std::less<>()));
  std::sort(only_b.begin(), only_b.end(), interrupt::polling(std::less<>()));
  std::sort(common.begin(), common.end(),
            interrupt::polling([](const Common& x, const Common& y) { return x.key < y.key; }));
  // Exact room first: growing lists of millions of names copies them in one long stretch.
  diff.edges_only_in_a.reserve(only_a.size());
  diff.edges_only_in_b.reserve(only_b.size());
  diff.edges_in_both.reserve(common.size());
  diff.edges_in_both_slots.reserve(common.size());
  for (std::uint64_t key : only_a) {
    interrupt::poll();
    diff.edges_only_in_a.push_back(a_order.names(a, key));
  }
  for (std::uint64_t key : only_b) {
    interrupt::poll();
    diff.edges_only_in_b.push_back(b_order.names(b, key));
  }
  for (const Common& c : common) {
    interrupt::poll();
    diff.edges_in_both.push_back(a_order.names(a, c.key));
    diff.edges_in_both_slots.emplace_back(c.in_a, c.in_b);
  }
  return diff;
}

}  // namespace torvex::algorithms
