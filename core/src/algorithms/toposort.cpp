#include "algorithms/toposort.hpp"

#include <algorithm>
#include <bit>
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
    if (g.is_edge_live(e))
      ++degree[g.edge_target(e)];
  }
  return degree;
}

IndexList zero_degree_nodes(const StableGraph& g, const NamePrefixes& prefixes,
                            const std::vector<std::uint32_t>& degree) {
  IndexList out;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && degree[n] == 0)
      out.push_back(n);
  }
  sort_by_name(g, prefixes, out);
  return out;
}

TorvexError cycle() {
  return TorvexError::cycle(kGraphHasCycle);
}

IndexList live_nodes(const StableGraph& g) {
  IndexList out;
  out.reserve(g.node_count());
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n))
      out.push_back(n);
  }
  return out;
}

// A set of integers below a fixed bound with ordered search: 64-way levels of bits, where a bit
// of an upper level says that its word below is not empty. Every operation costs one word per
// level, five levels at most for 32-bit values.
class RankSet {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  explicit RankSet(std::size_t bound) {
    std::size_t words = bound;
    do {
      words = std::max<std::size_t>(1, (words + 63) / 64);
      levels_.emplace_back(words, 0);
    } while (words > 1);
  }

  bool empty() const noexcept { return levels_.back()[0] == 0; }

  void insert(std::size_t value) noexcept {
    for (auto& level : levels_) {
      level[value / 64] |= std::uint64_t{1} << (value % 64);
      value /= 64;
    }
  }

  void erase(std::size_t value) noexcept {
    for (auto& level : levels_) {
      std::uint64_t& word = level[value / 64];
      word &= ~(std::uint64_t{1} << (value % 64));
      if (word != 0)
        return;
      value /= 64;
    }
  }

  std::size_t first() const noexcept {
    const std::uint64_t top = levels_.back()[0];
    return top == 0 ? kNone
                    : descend(levels_.size() - 1, static_cast<std::size_t>(std::countr_zero(top)));
  }

  // The smallest member greater than `value`, or kNone.
  std::size_t next_after(std::size_t value) const noexcept {
    for (std::size_t k = 0; k < levels_.size(); ++k) {
      const std::size_t bit = value % 64;
      const std::size_t word = value / 64;
      const std::uint64_t above =
          bit == 63 ? 0 : levels_[k][word] & (~std::uint64_t{0} << (bit + 1));
      if (above != 0) {
        return descend(k, word * 64 + static_cast<std::size_t>(std::countr_zero(above)));
      }
      value = word;
    }
    return kNone;
  }

 private:
  // From a set bit `index` of level k, follows the lowest set bits down to level 0.
  std::size_t descend(std::size_t k, std::size_t index) const noexcept {
    while (k-- > 0) {
      index = index * 64 + static_cast<std::size_t>(std::countr_zero(levels_[k][index]));
    }
    return index;
  }

  std::vector<std::vector<std::uint64_t>> levels_;
};

}  // namespace

void sort_by_name(const StableGraph& graph, IndexList& nodes) {
  if (nodes.size() < 2)
    return;
  auto by_name = [&](NodeIndex a, NodeIndex b) { return name_less(graph.name(a), graph.name(b)); };
  if (nodes.size() < 64) {
    std::stable_sort(nodes.begin(), nodes.end(), by_name);
    return;
  }
  // Large lists sort on inline prefixes and touch the names themselves only on ties.
  std::vector<std::pair<std::uint64_t, NodeIndex>> keyed;
  keyed.reserve(nodes.size());
  for (NodeIndex n : nodes) {
    interrupt::poll();
    keyed.emplace_back(name_prefix(graph.name(n)), n);
  }
  // `nodes` changes only after the sort, so a stop inside it leaves them as they were.
  std::stable_sort(keyed.begin(), keyed.end(),
                   interrupt::polling([&](const auto& x, const auto& y) {
                     if (x.first != y.first)
                       return x.first < y.first;
                     return by_name(x.second, y.second);
                   }));
  for (std::size_t i = 0; i < nodes.size(); ++i)
    nodes[i] = keyed[i].second;
}

namespace {

// Sorts [first, last) by name. Entries are distinct nodes or repeats of one, so stability
// changes nothing.
void sort_range(const StableGraph& graph, const NamePrefixes& prefixes, NodeIndex* first,
                NodeIndex* last) {
  const auto size = static_cast<std::size_t>(last - first);
  if (size < 2)
    return;
  if (size < 16) {
    auto by_name = [&](NodeIndex a, NodeIndex b) {
      if (prefixes[a] != prefixes[b])
        return prefixes[a] < prefixes[b];
      return name_less(graph.name(a), graph.name(b));
    };
    for (std::size_t i = 1; i < size; ++i) {
      const NodeIndex n = first[i];
      std::size_t j = i;
      for (; j > 0 && by_name(n, first[j - 1]); --j)
        first[j] = first[j - 1];
      first[j] = n;
    }
    return;
  }
  // Sorting the keys beside the indices keeps the comparisons off the prefix array.
  std::vector<std::pair<std::uint64_t, NodeIndex>> keyed;
  keyed.reserve(size);
  for (NodeIndex* n = first; n != last; ++n)
    keyed.emplace_back(prefixes[*n], *n);
  std::sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
    if (x.first != y.first)
      return x.first < y.first;
    return name_less(graph.name(x.second), graph.name(y.second));
  });
  for (std::size_t i = 0; i < size; ++i)
    first[i] = keyed[i].second;
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
    for (const NodeIndex* v = successors.begin(order[head]); v != successors.end(order[head]);
         ++v) {
      if (--degree[*v] == 0)
        order.push_back(*v);
    }
    sort_range(graph, prefixes, order.data() + released, order.data() + order.size());
  }
  if (order.size() != graph.node_count())
    return cycle();
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
      if (state[c] == kOnStack)
        met_stack = true;
      if (state[c] == kUnvisited)
        pending.push_back(c);
    });
    std::stable_sort(pending.begin() + begin, pending.end(), [&](NodeIndex a, NodeIndex b) {
      return name_less(graph.name(a), graph.name(b));
    });
    frames.push_back(Frame{n, begin, begin, static_cast<std::uint32_t>(pending.size())});
  };

  IndexList starts = [&] {
    IndexList all;
    for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
      if (graph.is_live(n))
        all.push_back(n);
    }
    sort_by_name(graph, all);
    return all;
  }();
  for (NodeIndex s : starts) {
    if (state[s] != kUnvisited)
      continue;
    enter(s);
    while (!frames.empty()) {
      if (met_stack)
        return cycle();
      Frame& top = frames.back();
      if (top.next < top.end) {
        const NodeIndex c = pending[top.next++];
        if (state[c] == kUnvisited)
          enter(c);  // invalidates `top`
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
      interrupt::poll();
      for (const NodeIndex* v = successors.begin(u); v != successors.end(u); ++v) {
        if (--degree[*v] == 0)
          next.push_back(*v);
      }
    }
    sort_by_name(graph, prefixes, next);
    levels.push_back(std::move(current));
    current = std::move(next);
  }
  if (processed != graph.node_count())
    return cycle();
  return levels;
}

Result<std::vector<IndexList>> all_topological_orderings(const StableGraph& graph,
                                                         std::optional<std::size_t> limit) {
  std::vector<std::uint32_t> degree = in_degrees(graph);
  std::vector<IndexList> results;
  // Candidates are kept by name rank, so the next one to try is the next rank in the set.
  IndexList by_rank = live_nodes(graph);
  sort_by_name(graph, by_rank);
  std::vector<std::uint32_t> rank(graph.node_bound(), 0);
  for (std::size_t r = 0; r < by_rank.size(); ++r)
    rank[by_rank[r]] = static_cast<std::uint32_t>(r);
  RankSet ready(by_rank.size());
  for (NodeIndex n : by_rank) {
    if (degree[n] == 0)
      ready.insert(rank[n]);
  }
  if (graph.node_count() > 0 && ready.empty())
    return cycle();

  auto limit_reached = [&] { return limit && results.size() >= *limit; };
  // One ready set for every depth: placing a node takes it out and adds what it releases;
  // taking it back undoes exactly that, so the set is again the one its depth started with.
  IndexList current;
  current.reserve(graph.node_count());
  auto place = [&](std::size_t r) {
    interrupt::poll();
    const NodeIndex u = by_rank[r];
    ready.erase(r);
    current.push_back(u);
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (--degree[v] == 0)
        ready.insert(rank[v]);
    });
  };
  auto unplace = [&]() {
    interrupt::poll();
    const NodeIndex u = current.back();
    current.pop_back();
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (degree[v]++ == 0)
        ready.erase(rank[v]);
    });
    ready.insert(rank[u]);
    return rank[u];
  };

  while (!limit_reached()) {
    // Descend taking the smallest ready name, then record the ordering.
    for (std::size_t r = ready.first(); r != RankSet::kNone; r = ready.first())
      place(r);
    if (!current.empty()) {
      interrupt::poll(current.size());
      results.push_back(current);
    }
    // A partial ordering means a cycle; nothing after it can change the answer.
    if (current.size() != graph.node_count() || limit_reached())
      break;
    // Back up to the deepest depth that has a later candidate, and take it.
    std::size_t next = RankSet::kNone;
    while (!current.empty() && next == RankSet::kNone)
      next = ready.next_after(unplace());
    if (next == RankSet::kNone)
      break;
    place(next);
  }

  if (results.empty() || results.front().size() == graph.node_count())
    return results;
  return cycle();
}

}  // namespace torvex::algorithms
