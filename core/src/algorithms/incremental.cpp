#include "algorithms/incremental.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "interrupt.hpp"

namespace torvex::algorithms {
namespace {

// Slots needed to mark every node of the graph and every index in `changed`.
std::size_t mark_size(const StableGraph& graph, std::span<const NodeIndex> changed) {
  std::size_t size = graph.node_bound();
  for (NodeIndex c : changed)
    size = std::max<std::size_t>(size, std::size_t{c} + 1);
  return size;
}

// Breadth-first search forward from the changed nodes; `dirty` receives discovery marks.
IndexList forward_closure(const StableGraph& graph, std::span<const NodeIndex> changed,
                          std::vector<char>& dirty) {
  IndexList order;
  for (NodeIndex c : changed) {
    if (!dirty[c]) {
      dirty[c] = 1;
      order.push_back(c);
    }
  }
  // The output doubles as the queue.
  for (std::size_t head = 0; head < order.size(); ++head) {
    interrupt::poll_at(head);
    const NodeIndex u = order[head];
    if (u >= graph.node_bound())
      continue;
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (!dirty[v]) {
        dirty[v] = 1;
        order.push_back(v);
      }
    });
  }
  return order;
}

constexpr std::uint32_t kNone = UINT32_MAX;

// The provenance lists of all dirty nodes at once, in topological order: a node's list follows
// from its predecessors' lists, so no search is repeated.
//
// A backward breadth-first search from d meets the nodes at distance k + 1 in the order of
// (rank of the first node at distance k that lists them, position in that node's incoming list).
// So a changed ancestor c comes at distance dist_d(c) = 1 + min over d's incoming edges of
// dist_s(c) (0 for s = c), through the first incoming edge e that achieves it; two changed
// ancestors at equal distance compare by that edge's position, then, when they share it, by
// their order in its source's list. Ancestors outside the dirty set have no changed ancestor
// and never come between dirty ones, so only dirty predecessors count.
class ProvenanceLists {
 public:
  ProvenanceLists(const StableGraph& graph, const IndexList& dirty_nodes,
                  const std::vector<std::uint32_t>& changed_id, const IndexList& changed_nodes)
      : graph_(graph),
        dirty_nodes_(dirty_nodes),
        changed_id_(changed_id),
        changed_nodes_(changed_nodes),
        position_(changed_id.size(), kNone),
        first_(dirty_nodes.size()),
        length_(dirty_nodes.size(), 0),
        best_(changed_nodes.size()),
        stamp_(changed_nodes.size(), kNone) {
    for (std::size_t p = 0; p < dirty_nodes.size(); ++p)
      position_[dirty_nodes[p]] = static_cast<std::uint32_t>(p);
  }

  // Fills the sources of `out`, whose entries stand in the order of the dirty list.
  void fill(std::vector<Provenance>& out) {
    // Kahn's order over the dirty nodes: every dirty predecessor before its successors.
    std::vector<std::uint32_t> waiting(dirty_nodes_.size(), 0);
    for (std::size_t p = 0; p < dirty_nodes_.size(); ++p) {
      interrupt::poll();
      for_each_dirty_predecessor(dirty_nodes_[p],
                                 [&](std::uint32_t, std::uint32_t) { ++waiting[p]; });
    }
    std::vector<std::uint32_t> ready;
    for (std::size_t p = 0; p < dirty_nodes_.size(); ++p) {
      if (waiting[p] == 0)
        ready.push_back(static_cast<std::uint32_t>(p));
    }
    while (!ready.empty()) {
      const std::uint32_t p = ready.back();
      ready.pop_back();
      list_of(p, out[p].sources);
      const NodeIndex d = dirty_nodes_[p];
      if (d >= graph_.node_bound())
        continue;
      graph_.for_each_successor(d, [&](NodeIndex v) {
        if (--waiting[position_[v]] == 0)
          ready.push_back(position_[v]);
      });
    }
  }

 private:
  struct Entry {
    std::uint32_t id;    // dense number of a changed node
    std::uint32_t dist;  // edges from the list's node back to it
  };
  struct Best {
    std::uint32_t dist;
    std::uint32_t edge;  // position of the incoming edge it came through
    std::uint32_t rank;  // its place in that edge source's list
  };

  // f(dirty position of the source, position of the edge in d's incoming list).
  template <class F>
  void for_each_dirty_predecessor(NodeIndex d, F&& f) const {
    if (d >= graph_.node_bound())
      return;
    std::uint32_t edge = 0;
    graph_.for_each_predecessor(d, [&](NodeIndex s) {
      if (position_[s] != kNone)
        f(position_[s], edge);
      ++edge;
    });
  }

  // Builds the list of dirty position p from its predecessors' lists, keeps it for its
  // successors and writes it as nodes into `sources`.
  void list_of(std::uint32_t p, IndexList& sources) {
    const NodeIndex d = dirty_nodes_[p];
    touched_.clear();
    for_each_dirty_predecessor(d, [&](std::uint32_t q, std::uint32_t edge) {
      interrupt::poll(1 + length_[q]);
      for (std::uint32_t rank = 0; rank < length_[q]; ++rank) {
        const Entry entry = entries_[first_[q] + rank];
        const std::uint32_t dist = entry.dist + 1;
        if (stamp_[entry.id] != p) {
          stamp_[entry.id] = p;
          best_[entry.id] = {dist, edge, rank};
          touched_.push_back(entry.id);
        } else if (dist < best_[entry.id].dist) {
          // Later edges win only by a shorter distance: the first edge keeps a tie.
          best_[entry.id] = {dist, edge, rank};
        }
      }
    });
    std::sort(touched_.begin(), touched_.end(), [&](std::uint32_t a, std::uint32_t b) {
      const Best& x = best_[a];
      const Best& y = best_[b];
      return std::tie(x.dist, x.edge, x.rank) < std::tie(y.dist, y.edge, y.rank);
    });

    first_[p] = entries_.size();
    sources.reserve(touched_.size() + 1);
    if (changed_id_[d] != kNone) {
      entries_.push_back({changed_id_[d], 0});
      sources.push_back(d);
    }
    for (std::uint32_t id : touched_) {
      entries_.push_back({id, best_[id].dist});
      sources.push_back(changed_nodes_[id]);
    }
    length_[p] = static_cast<std::uint32_t>(entries_.size() - first_[p]);
  }

  const StableGraph& graph_;
  const IndexList& dirty_nodes_;
  const std::vector<std::uint32_t>& changed_id_;
  const IndexList& changed_nodes_;
  std::vector<std::uint32_t> position_;  // a node's place in the dirty list, or kNone
  std::vector<std::size_t> first_;       // where a dirty node's list starts in entries_
  std::vector<std::uint32_t> length_;
  std::vector<Entry> entries_;        // every list, one after another, nearest first
  std::vector<Best> best_;            // by changed id, for the list being built
  std::vector<std::uint32_t> stamp_;  // the dirty position whose list last set best_
  std::vector<std::uint32_t> touched_;
};

}  // namespace

IndexList dirty_set(const StableGraph& graph, std::span<const NodeIndex> changed) {
  std::vector<char> dirty(mark_size(graph, changed), 0);
  return forward_closure(graph, changed, dirty);
}

std::vector<Provenance> change_provenance(const StableGraph& graph,
                                          std::span<const NodeIndex> changed) {
  const std::size_t size = mark_size(graph, changed);
  std::vector<char> dirty(size, 0);
  const IndexList dirty_nodes = forward_closure(graph, changed, dirty);

  // The changed nodes by a dense number, repeats dropped.
  std::vector<std::uint32_t> changed_id(size, kNone);
  IndexList changed_nodes;
  for (NodeIndex c : changed) {
    if (changed_id[c] == kNone) {
      changed_id[c] = static_cast<std::uint32_t>(changed_nodes.size());
      changed_nodes.push_back(c);
    }
  }

  std::vector<Provenance> out;
  out.reserve(dirty_nodes.size());
  for (std::size_t i = 0; i < dirty_nodes.size(); ++i) {
    interrupt::poll_at(i);
    out.push_back({dirty_nodes[i], {}});
  }
  if (changed_nodes.size() == 1) {
    // Every dirty node descends from the one changed node: nothing to search for.
    for (Provenance& entry : out) {
      interrupt::poll();
      entry.sources.push_back(changed_nodes.front());
    }
    return out;
  }
  ProvenanceLists(graph, dirty_nodes, changed_id, changed_nodes).fill(out);
  return out;
}

}  // namespace torvex::algorithms
