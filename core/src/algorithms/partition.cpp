#include "algorithms/partition.hpp"

#include <algorithm>
#include <utility>

#include "algorithms/toposort.hpp"

namespace torvex::algorithms {

namespace {

PartitionInfo empty_part(PartId id) {
  PartitionInfo part;
  part.partition_id = id;
  return part;
}

// The node's level, or kNoLevel when the map has none.
std::size_t level_of(const std::vector<std::size_t>& node_level, NodeIndex n) {
  return n < node_level.size() ? node_level[n] : kNoLevel;
}

// Moves boundary nodes between neighbouring parts while that cuts edges; see
// partition_communication_min.
class Refiner {
 public:
  Refiner(const StableGraph& graph, const NodeValues& costs, std::vector<PartitionInfo>& parts,
          PartAssignment& assignment, std::vector<std::size_t> node_level, double limit)
      : graph_(graph),
        costs_(costs),
        parts_(parts),
        assignment_(assignment),
        node_level_(std::move(node_level)),
        limit_(limit) {}

  // One pass over every pair of neighbouring parts, forward then backward.
  // Returns whether any node moved.
  bool pass() {
    // The ranges stay as computed for the whole pass, however nodes move during it.
    const auto ranges = partition_level_range(parts_, node_level_);
    bool improved = false;
    for (PartId i = 0; i + 1 < parts_.size(); ++i) {
      const std::size_t high = ranges[i].second;
      const std::size_t low = ranges[i + 1].first;
      improved |= move_boundary(
          i, i + 1, [high](std::size_t level) { return level >= (high == 0 ? 0 : high - 1); });
      improved |= move_boundary(i + 1, i, [low](std::size_t level) { return level <= low + 1; });
    }
    return improved;
  }

 private:
  template <class LevelTest>
  bool move_boundary(PartId src, PartId dst, LevelTest passes_level_test) {
    // The candidate list is fixed before any of its nodes moves.
    IndexList candidates;
    for (NodeIndex v : parts_[src].nodes) {
      const std::size_t level = level_of(node_level_, v);
      if (passes_level_test(level == kNoLevel ? 0 : level))
        candidates.push_back(v);
    }
    std::size_t src_size = parts_[src].nodes.size();
    bool moved = false;
    for (NodeIndex v : candidates) {
      const double c = costs_[v];
      // A NaN sum or limit compares false and skips nothing; a part never becomes empty.
      if (c + parts_[dst].total_cost > limit_ || src_size < 2)
        continue;
      if (!keeps_edges_ordered(v, dst))
        continue;
      if (cut_change(v, src, dst) >= 0)
        continue;
      assignment_[v] = dst;
      --src_size;
      parts_[src].total_cost -= c;
      parts_[dst].nodes.push_back(v);
      parts_[dst].total_cost += c;
      moved = true;
    }
    // Drop the moved nodes from src at once; the others keep their order.
    if (moved) {
      std::erase_if(parts_[src].nodes, [&](NodeIndex v) { return assignment_[v] != src; });
    }
    return moved;
  }

  // Would every edge at v still run from a lower or equal to a higher or equal part?
  bool keeps_edges_ordered(NodeIndex v, PartId dst) const {
    bool ok = true;
    graph_.for_each_predecessor(v, [&](NodeIndex u) {
      if (part_of(u) != kNoPart && part_of(u) > dst)
        ok = false;
    });
    graph_.for_each_successor(v, [&](NodeIndex w) {
      if (part_of(w) != kNoPart && part_of(w) < dst)
        ok = false;
    });
    return ok;
  }

  // The change in the number of edges at v that cross parts if v moves from src to dst.
  std::int64_t cut_change(NodeIndex v, PartId src, PartId dst) const {
    std::int64_t delta = 0;
    auto count = [&](NodeIndex other) {
      const PartId p = part_of(other);
      delta += static_cast<std::int64_t>(p != dst) - static_cast<std::int64_t>(p != src);
    };
    graph_.for_each_predecessor(v, count);
    graph_.for_each_successor(v, count);
    return delta;
  }

  PartId part_of(NodeIndex n) const { return n < assignment_.size() ? assignment_[n] : kNoPart; }

  const StableGraph& graph_;
  const NodeValues& costs_;
  std::vector<PartitionInfo>& parts_;
  PartAssignment& assignment_;
  std::vector<std::size_t> node_level_;
  double limit_;
};

}  // namespace

Result<IndexedPartitionResult> partition_level_based(const StableGraph& graph, std::uint64_t k,
                                                     const NodeValues& costs) {
  TORVEX_TRY(levels, topological_levels(graph));
  if (levels.empty())
    return IndexedPartitionResult{};
  const std::uint64_t level_count = levels.size();
  const std::uint64_t parts_wanted =
      std::min<std::uint64_t>(std::max<std::uint64_t>(k, 1), level_count);
  const std::uint64_t levels_per_part =
      level_count / parts_wanted + (level_count % parts_wanted != 0 ? 1 : 0);

  std::vector<PartitionInfo> parts;
  PartAssignment assignment(graph.node_bound(), kNoPart);
  PartId p = 0;
  for (std::uint64_t i = 0; i < level_count; ++i) {
    if (i > 0 && i % levels_per_part == 0 && p + 1 < parts_wanted)
      ++p;
    if (p == parts.size())
      parts.push_back(empty_part(p));
    for (NodeIndex n : levels[i]) {
      assignment[n] = p;
      parts[p].nodes.push_back(n);
      parts[p].total_cost += costs[n];
    }
  }
  return finalize_partition_result(graph, std::move(parts), std::move(assignment));
}

Result<IndexedPartitionResult> partition_balanced(const StableGraph& graph, std::uint64_t k,
                                                  const NodeValues& costs) {
  TORVEX_TRY(levels, topological_levels(graph));
  if (levels.empty())
    return IndexedPartitionResult{};
  const std::uint64_t part_count = std::max<std::uint64_t>(k, 1);
  double total = 0.0;
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n))
      total += costs[n];
  }
  const double target = total / static_cast<double>(part_count);

  // Only parts that receive a node are materialised; `cur` only grows, so the last one
  // materialised is the only one that can be current.
  std::vector<PartitionInfo> parts;
  PartId cur = 0;
  auto current_exists = [&] { return !parts.empty() && parts.back().partition_id == cur; };
  for (const IndexList& level : levels) {
    for (NodeIndex n : level) {
      while (cur + 1 < part_count) {
        if (!current_exists()) {
          // Every part from here on is empty with cost 0.0: either all meet the target, and the
          // walk would end at the last one, or none does.
          if (0.0 >= target)
            cur = part_count - 1;
          break;
        }
        if (!(parts.back().total_cost >= target))
          break;
        ++cur;
      }
      if (!current_exists())
        parts.push_back(empty_part(cur));
      parts.back().nodes.push_back(n);
      parts.back().total_cost += costs[n];
    }
  }

  // Renumber the parts that exist and assign their nodes.
  PartAssignment assignment(graph.node_bound(), kNoPart);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    parts[i].partition_id = i;
    for (NodeIndex n : parts[i].nodes)
      assignment[n] = i;
  }
  return finalize_partition_result(graph, std::move(parts), std::move(assignment));
}

Result<IndexedPartitionResult> partition_communication_min(const StableGraph& graph,
                                                           std::uint64_t k, const NodeValues& costs,
                                                           std::uint64_t max_iterations,
                                                           double max_imbalance) {
  TORVEX_TRY(start, partition_level_based(graph, k, costs));
  if (start.partitions.size() < 2)
    return start;
  TORVEX_TRY(levels, topological_levels(graph));
  std::vector<std::size_t> node_level(graph.node_bound(), kNoLevel);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    for (NodeIndex n : levels[i])
      node_level[n] = i;
  }

  // The balance limit is fixed before the first pass.
  std::vector<PartitionInfo> parts = std::move(start.partitions);
  double sum = 0.0;
  for (const PartitionInfo& part : parts)
    sum += part.total_cost;
  const double limit = (max_imbalance + 1.0) * (sum / static_cast<double>(parts.size()));

  // Every move cuts at least one edge, so the passes end by themselves after at most E moves.
  PartAssignment assignment = std::move(start.assignment);
  Refiner refiner(graph, costs, parts, assignment, std::move(node_level), limit);
  for (std::uint64_t pass = 0; pass < max_iterations; ++pass) {
    if (!refiner.pass())
      break;
  }
  return finalize_partition_result(graph, std::move(parts), std::move(assignment));
}

IndexedPartitionResult finalize_partition_result(const StableGraph& graph,
                                                 std::vector<PartitionInfo> parts,
                                                 PartAssignment assignment) {
  IndexedPartitionResult result;
  for (PartitionInfo& part : parts) {
    part.incoming_cross_edges = 0;
    part.outgoing_cross_edges = 0;
  }
  std::vector<std::pair<PartId, PartId>> pairs;
  auto part_of = [&](NodeIndex n) { return n < assignment.size() ? assignment[n] : kNoPart; };
  for (NodeIndex u = 0; u < graph.node_bound(); ++u) {
    if (!graph.is_live(u) || part_of(u) == kNoPart)
      continue;
    const PartId pu = part_of(u);
    graph.for_each_successor(u, [&](NodeIndex v) {
      const PartId pv = part_of(v);
      if (pv == kNoPart || pv == pu)
        return;
      ++parts[pu].outgoing_cross_edges;
      ++parts[pv].incoming_cross_edges;
      pairs.emplace_back(pu, pv);
      ++result.cross_edge_count;
    });
  }
  result.partition_order = compute_partition_order(parts.size(), std::move(pairs));
  result.partitions = std::move(parts);
  result.assignment = std::move(assignment);
  return result;
}

std::vector<std::vector<PartId>> compute_partition_order(
    std::size_t n, std::vector<std::pair<PartId, PartId>> pairs) {
  std::vector<std::vector<PartId>> waves;
  if (n == 0)
    return waves;
  std::erase_if(pairs, [&](const auto& pair) { return pair.first >= n || pair.second >= n; });
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());

  // Sorted pairs give each part's successors as one contiguous run.
  std::vector<std::size_t> in_degree(n, 0);
  std::vector<std::size_t> first(n + 1, 0);
  for (const auto& [a, b] : pairs) {
    ++in_degree[b];
    ++first[a + 1];
  }
  for (std::size_t a = 0; a < n; ++a)
    first[a + 1] += first[a];

  std::vector<PartId> wave;
  for (PartId p = 0; p < n; ++p) {
    if (in_degree[p] == 0)
      wave.push_back(p);
  }
  while (!wave.empty()) {
    std::vector<PartId> next;
    for (PartId a : wave) {
      for (std::size_t e = first[a]; e < first[a + 1]; ++e) {
        if (--in_degree[pairs[e].second] == 0)
          next.push_back(pairs[e].second);
      }
    }
    std::sort(next.begin(), next.end());
    waves.push_back(std::move(wave));
    wave = std::move(next);
  }
  return waves;
}

std::vector<std::pair<std::size_t, std::size_t>> partition_level_range(
    const std::vector<PartitionInfo>& parts, const std::vector<std::size_t>& node_level) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  ranges.reserve(parts.size());
  for (const PartitionInfo& part : parts) {
    std::size_t low = kNoLevel;
    std::size_t high = 0;
    for (NodeIndex n : part.nodes) {
      const std::size_t level = level_of(node_level, n);
      if (level == kNoLevel)
        continue;
      low = std::min(low, level);
      high = std::max(high, level);
    }
    ranges.emplace_back(low == kNoLevel ? 0 : low, high);
  }
  return ranges;
}

}  // namespace torvex::algorithms
