#include "algorithms/transforms.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "algorithms/toposort.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms {
namespace {

// Marks, for one source node at a time, the nodes reachable from it along two or more edges.
// Marks are stamps, so starting the next source costs nothing.
class LongReach {
 public:
  explicit LongReach(const StableGraph& graph)
      : graph_(graph), mark_(graph.node_bound(), 0), direct_(graph.node_bound(), 0) {}

  // Searches from `source`; reached() then lists the nodes found, in discovery order.
  void search(NodeIndex source) {
    ++stamp_;
    reached_.clear();
    stack_.clear();
    graph_.for_each_successor(source, [&](NodeIndex child) { direct_[child] = stamp_; });
    auto visit = [&](NodeIndex n) {
      if (mark_[n] == stamp_)
        return;
      mark_[n] = stamp_;
      reached_.push_back(n);
      stack_.push_back(n);
    };
    graph_.for_each_successor(source,
                              [&](NodeIndex child) { graph_.for_each_successor(child, visit); });
    while (!stack_.empty()) {
      const NodeIndex x = stack_.back();
      stack_.pop_back();
      graph_.for_each_successor(x, visit);
    }
  }

  const IndexList& reached() const noexcept { return reached_; }
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

// Each node's distinct successors as positions in a topological order, ascending. Nodes on or
// behind a cycle (never in a stored graph) get no position and take no part.
class PositionedSuccessors {
 public:
  explicit PositionedSuccessors(const StableGraph& graph) {
    // Any topological order will do.
    const FlatSuccessors flat(graph);
    order_ = any_topological_order(graph, flat);
    std::vector<std::uint32_t> position(graph.node_bound(), kEnd);
    for (std::size_t p = 0; p < order_.size(); ++p)
      position[order_[p]] = static_cast<std::uint32_t>(p);
    start_.reserve(order_.size() + 1);
    start_.push_back(0);
    for (NodeIndex u : order_) {
      const auto begin = targets_.end() - targets_.begin();
      for (const NodeIndex* v = flat.begin(u); v != flat.end(u); ++v) {
        if (position[*v] != kEnd)
          targets_.push_back(position[*v]);
      }
      std::sort(targets_.begin() + begin, targets_.end());
      targets_.erase(std::unique(targets_.begin() + begin, targets_.end()), targets_.end());
      start_.push_back(static_cast<std::uint32_t>(targets_.size()));
    }
  }

  std::size_t size() const noexcept { return order_.size(); }
  NodeIndex node_at(std::size_t p) const noexcept { return order_[p]; }
  // Entries [first(p), last(p)) of targets() are the successors of position p.
  std::size_t first(std::size_t p) const noexcept { return start_[p]; }
  std::size_t last(std::size_t p) const noexcept { return start_[p + 1]; }
  const std::vector<std::uint32_t>& targets() const noexcept { return targets_; }

 private:
  IndexList order_;
  std::vector<std::uint32_t> start_;
  std::vector<std::uint32_t> targets_;
};

// Per position, one past the highest position whose bit anyone reads from its row or needs in
// it for a verdict; 0 when none. A node with one distinct successor decides nothing, so on a
// chain no row is ever built, and a row is built only in the blocks where it is read.
std::vector<std::uint32_t> read_spans(const PositionedSuccessors& successors) {
  const std::vector<std::uint32_t>& targets = successors.targets();
  std::vector<std::uint32_t> span(successors.size(), 0);
  for (std::size_t p = 0; p < successors.size(); ++p) {
    const std::size_t first = successors.first(p), last = successors.last(p);
    if (last - first < 2)
      continue;
    span[p] = std::max(span[p], targets[last - 1] + 1);
    for (std::size_t i = first; i + 1 < last; ++i)
      span[targets[i]] = std::max(span[targets[i]], targets[last - 1] + 1);
  }
  for (std::size_t p = 0; p < successors.size(); ++p) {
    // A row is the union of its successors' rows, so they are read as far as it is.
    if (span[p] == 0)
      continue;
    for (std::size_t i = successors.first(p); i < successors.last(p); ++i)
      span[targets[i]] = std::max(span[targets[i]], span[p]);
  }
  return span;
}

// Bits per row of one column block: rows for every position are held at once, so the width
// shrinks on very large graphs to keep them near this many bytes.
constexpr std::size_t kRowBudgetBytes = std::size_t{128} << 20;
constexpr std::size_t kMaxBlockBits = 1024;

std::size_t block_bits(std::size_t nodes) noexcept {
  const std::size_t fit = nodes == 0 ? kMaxBlockBits : kRowBudgetBytes * 8 / nodes / 64 * 64;
  return std::clamp<std::size_t>(fit, 64, kMaxBlockBits);
}

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
    reach.search(u);
    interrupt::poll(reach.reached().size() + 1);
    for (NodeIndex w : reach.reached()) {
      if (!reach.is_direct(w))
        out.emplace_back(u, w);
    }
  }
  return out;
}

NodePairSet transitive_reduction_redundant_edges(const StableGraph& graph) {
  // An edge p -> s is redundant when s descends from another successor of p. Only successors at
  // earlier positions can lead to s, so walking p's successors in ascending position, s is
  // decided on arrival by the descendants gathered so far. Descendant sets are bit rows over
  // one block of positions at a time: the positions are reduced last first, so the rows of a
  // position's successors are complete when it is reached.
  const PositionedSuccessors successors(graph);
  const std::vector<std::uint32_t>& targets = successors.targets();
  const std::size_t n = successors.size();

  const std::vector<std::uint32_t> span = read_spans(successors);

  const std::size_t bits = block_bits(n);
  const std::size_t words = bits / 64;
  // Every row is written before it is read in a block, so the rows need no zero fill.
  const std::unique_ptr<std::uint64_t[]> rows(new std::uint64_t[n * words]);
  std::vector<std::uint8_t> is_empty(n, 1);
  std::vector<std::uint8_t> redundant(targets.size(), 0);
  IndexList active;  // positions below the block that still matter, descending
  IndexList next_active;

  for (std::size_t low = 0; low < n; low += bits) {
    const std::size_t high = std::min(n, low + bits);
    // Positions inside the block, then the earlier ones still read this far, all descending.
    next_active.clear();
    for (std::size_t p = high; p-- > low;) {
      if (span[p] > low)
        next_active.push_back(static_cast<NodeIndex>(p));
    }
    for (NodeIndex p : active) {
      if (span[p] > low)
        next_active.push_back(p);
      else
        is_empty[p] = 1;
    }
    active.swap(next_active);

    for (const NodeIndex p : active) {
      interrupt::poll(successors.last(p) - successors.first(p) + 1);
      std::uint64_t* row = rows.get() + std::size_t{p} * words;
      bool filled = false;
      // Successors at or beyond `high` reach nothing inside the block.
      for (std::size_t i = successors.first(p); i < successors.last(p) && targets[i] < high; ++i) {
        const std::size_t s = targets[i];
        if (s >= low) {
          const std::size_t bit = s - low;
          if (filled && ((row[bit / 64] >> (bit % 64)) & 1u))
            redundant[i] = 1;
          if (!filled)
            std::fill(row, row + words, 0);
          filled = true;
          row[bit / 64] |= std::uint64_t{1} << (bit % 64);
        }
        if (is_empty[s])
          continue;
        const std::uint64_t* below = rows.get() + s * words;
        if (filled) {
          for (std::size_t w = 0; w < words; ++w)
            row[w] |= below[w];
        } else {
          std::copy(below, below + words, row);
          filled = true;
        }
      }
      is_empty[p] = !filled;
    }
  }

  NodePairSet out;
  for (std::size_t p = 0; p < n; ++p) {
    interrupt::poll(successors.last(p) - successors.first(p) + 1);
    for (std::size_t i = successors.first(p); i < successors.last(p); ++i) {
      if (redundant[i])
        out.insert(successors.node_at(p), successors.node_at(targets[i]));
    }
  }
  return out;
}

}  // namespace torvex::algorithms
