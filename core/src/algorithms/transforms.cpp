#include "algorithms/transforms.hpp"

#include <algorithm>
#include <cstdint>

#include "interrupt.hpp"

namespace torvex::algorithms {
namespace {

// Marks, for one source node at a time, the nodes reachable from it along two or more edges.
// Marks are stamps, so starting the next source costs nothing.
class LongReach {
 public:
  explicit LongReach(const StableGraph& graph)
      : graph_(graph), mark_(graph.node_bound(), 0), direct_(graph.node_bound(), 0) {}

  // Searches from `source`; reached() then lists the nodes found, in discovery order. With
  // `until_directs_found`, stops as soon as every direct successor has been reached.
  void search(NodeIndex source, bool until_directs_found) {
    ++stamp_;
    reached_.clear();
    stack_.clear();
    std::size_t directs_missing = 0;
    graph_.for_each_successor(source, [&](NodeIndex child) {
      if (direct_[child] != stamp_)
        ++directs_missing;
      direct_[child] = stamp_;
    });
    // Only a second successor can lead to the first one, so a single distinct successor
    // (parallel edges included) has nothing to find.
    if (until_directs_found && directs_missing < 2)
      return;
    auto visit = [&](NodeIndex n) {
      if (mark_[n] == stamp_)
        return;
      mark_[n] = stamp_;
      reached_.push_back(n);
      stack_.push_back(n);
      if (direct_[n] == stamp_)
        --directs_missing;
    };
    graph_.for_each_successor(source,
                              [&](NodeIndex child) { graph_.for_each_successor(child, visit); });
    while (!stack_.empty() && !(until_directs_found && directs_missing == 0)) {
      const NodeIndex x = stack_.back();
      stack_.pop_back();
      graph_.for_each_successor(x, visit);
    }
  }

  const IndexList& reached() const noexcept { return reached_; }
  bool is_reached(NodeIndex n) const noexcept { return mark_[n] == stamp_; }
  // True when the last source has an edge to n.
  bool is_direct(NodeIndex n) const noexcept { return direct_[n] == stamp_; }

 private:
  const StableGraph& graph_;
  // One stamp per source; a graph has fewer live nodes than a 32-bit stamp can count.
  std::vector<std::uint32_t> mark_;
  std::vector<std::uint32_t> direct_;
  std::uint32_t stamp_ = 0;
  IndexList reached_;
  IndexList stack_;
};

}  // namespace

std::vector<NodePair> NodePairSet::sorted() const {
  std::vector<std::uint64_t> keys(pairs_.begin(), pairs_.end());
  std::sort(keys.begin(), keys.end());
  std::vector<NodePair> out;
  out.reserve(keys.size());
  for (std::uint64_t k : keys) {
    out.emplace_back(static_cast<NodeIndex>(k >> 32), static_cast<NodeIndex>(k));
  }
  return out;
}

std::vector<NodePair> transitive_closure_new_edges(const StableGraph& graph) {
  // Every node reachable but not a direct successor is reachable along two or more edges, so
  // the long-reach search alone yields exactly the missing pairs.
  std::vector<NodePair> out;
  LongReach reach(graph);
  for (NodeIndex u = 0; u < graph.node_bound(); ++u) {
    if (!graph.is_live(u))
      continue;
    reach.search(u, false);
    interrupt::poll(reach.reached().size() + 1);
    for (NodeIndex w : reach.reached()) {
      if (!reach.is_direct(w))
        out.emplace_back(u, w);
    }
  }
  return out;
}

NodePairSet transitive_reduction_redundant_edges(const StableGraph& graph) {
  // An edge U -> V is redundant when V is reachable from U along two or more edges; one search
  // per source answers the question for all of its edges at once.
  NodePairSet out;
  LongReach reach(graph);
  for (NodeIndex u = 0; u < graph.node_bound(); ++u) {
    if (!graph.is_live(u))
      continue;
    reach.search(u, true);
    interrupt::poll(reach.reached().size() + 1);
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (reach.is_reached(v))
        out.insert(u, v);
    });
  }
  return out;
}

}  // namespace torvex::algorithms
