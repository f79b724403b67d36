// The store under random sequences of changes and reads, against its invariants and cheap
// oracles (no second model of the store: the Python suite keeps that one).
//
// Each input decodes into steps: add or remove nodes and edges (through add_edge, through the
// binding's split path, and in batches that are finished or abandoned), take and resolve
// handles, read the cached lists and clear the cache. Every outcome is checked against a plain
// breadth-first search (the cycle test, reachability), the counters against the changes that
// succeeded, the cached lists against fresh ones and their definitions, and after every step
// the store against its own slots (check_store).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/cycle.hpp"
#include "algorithms/toposort.hpp"
#include "fuzz_support.hpp"

namespace torvex::fuzz {
namespace {

using Dag = DAG<std::string>;

// Few names, so that steps collide; the empty name, a non-ASCII one, a line feed, and one long
// enough to live on the heap, where a dangling use shows.
constexpr std::string_view kNames[] = {
    "a", "b", "c", "d",  "e", "f",        "g",          "h",
    "i", "j", "k", "ab", "",  "\xC3\xA9", "line\nfeed", "a-name-long-enough-to-live-on-the-heap"};
constexpr double kWeights[] = {1.0, -0.0, 2.5, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
constexpr std::size_t kMaxSteps = 2000;

class Run {
 public:
  explicit Run(ByteReader& in) : in_(in) {}

  void step() {
    switch (in_.pick(12)) {
      case 0:
      case 1:
        add_node();
        break;
      case 2:
      case 3:
      case 4:
        add_edge(in_.byte() & 1);
        break;
      case 5:
        add_batch();
        break;
      case 6:
        remove(in_.byte() & 1);
        break;
      case 7:
      case 8:
        read_cached();
        break;
      case 9:
        dag_.clear_cache();
        check(dag_.cache_size() == 0, "clear_cache left results");
        break;
      case 10:
        handles();
        break;
      default:
        orderings();
        break;
    }
    check_store(dag_);
    check(dag_.generation() == generation_, "generation differs from the changes that succeeded");
    check(changed_ == false || dag_.cache_size() == 0, "a structural change kept the cache");
    changed_ = false;
  }

 private:
  std::string_view name() { return kNames[in_.pick(std::size(kNames))]; }

  void succeeded() { ++generation_, changed_ = true; }
  void keep(NodeHandle handle) {
    if (handles_.size() == 16)
      handles_.erase(handles_.begin());
    handles_.push_back(std::move(handle));
  }

  void add_node() {
    const std::string_view n = name();
    const bool present = dag_.contains(n);
    const std::uint64_t epoch = dag_.next_epoch();
    auto added = dag_.add_node(std::string(n), "payload");
    if (present) {
      check(!added.ok() && added.error() == TorvexError::duplicate_node(std::string(n)),
            "a present name was added again");
      return;
    }
    check(added.ok() && added->name == n && added->epoch == epoch, "add_node handle");
    keep(*added);
    succeeded();
  }

  // What add_edge must give, by the plain breadth-first search of would_create_cycle.
  std::optional<TorvexError> expected_error(std::string_view a, std::string_view b) const {
    auto ia = dag_.find(a), ib = dag_.find(b);
    if (!ia)
      return TorvexError::node_not_found(std::string(a));
    if (!ib)
      return TorvexError::node_not_found(std::string(b));
    auto path = algorithms::would_create_cycle(dag_.graph(), *ia, *ib);
    if (!path)
      return std::nullopt;
    std::string text =
        "Edge " + std::string(a) + " -> " + std::string(b) + " would create a cycle: ";
    for (std::size_t i = 0; i < path->size(); ++i)
      text.append(i ? " -> " : "").append(dag_.graph().name((*path)[i]));
    return TorvexError::cycle(text);
  }

  // By name, or by index as the copying paths do it.
  void add_edge(bool by_index) {
    const std::string_view a = name(), b = name();
    const double weight = kWeights[in_.pick(std::size(kWeights))];
    const std::optional<TorvexError> expected = expected_error(a, b);
    const std::size_t edges = dag_.edge_count();
    const Status added = by_index && dag_.contains(a) && dag_.contains(b)
                             ? dag_.add_edge(*dag_.find(a), *dag_.find(b), weight, std::nullopt)
                             : dag_.add_edge(a, b, weight, std::string(a));
    if (expected) {
      check(!added.ok() && added.error() == *expected, "add_edge", expected->display());
      check(dag_.edge_count() == edges, "a refused edge was stored");
      return;
    }
    check(added.ok(), "add_edge failed");
    check(dag_.edge_count() == edges + 1 && *dag_.has_edge(a, b), "the edge is not stored");
    const NodeIndex ia = *dag_.find(a);
    const EdgeIndex newest = dag_.graph().first_edge(ia, Direction::Outgoing);
    check(same_bits(dag_.graph().edge_weight(newest), weight), "the newest edge is not first");
    succeeded();
  }

  // A few edges through EdgeBatch: finished, the outcome of one add_edge per edge (checked on
  // the edges that stay); abandoned, nothing changes, the cache included.
  void add_batch() {
    const bool finish = in_.byte() & 1;
    const auto edges_before = dag_.edges();
    const std::uint64_t generation = generation_;
    const std::size_t cached = dag_.cache_size();
    std::vector<std::pair<std::string_view, std::string_view>> batch;
    Status read;
    {
      EdgeBatch edges(dag_);
      for (std::size_t k = in_.pick(6); k > 0 && read.ok(); --k) {
        batch.emplace_back(name(), name());
        read = edges.add(batch.back().first, batch.back().second, std::nullopt, std::nullopt);
      }
      if (finish) {
        const Status finished = edges.finish();
        if (!finished.ok())
          check(finished.error().kind() == ErrorKind::Cycle, "a batch fails with another error");
        read = finished.ok() ? read : finished;
      }
    }
    if (!finish) {
      check(dag_.edges() == edges_before && dag_.generation() == generation &&
                dag_.cache_size() == cached,
            "an abandoned batch left a trace");
      return;
    }
    // The edges that stayed went in one by one, each passing the cycle test of its moment.
    const std::size_t kept = dag_.edge_count() - edges_before.size();
    check(kept <= batch.size(), "a batch kept more edges than it had");
    check(read.ok() || kept < batch.size(), "a failed batch kept every edge");
    generation_ += kept;
    changed_ = kept > 0;
    if (!changed_)
      check(dag_.cache_size() == cached, "a batch that kept nothing emptied the cache");
  }

  void remove(bool node) {
    const std::string_view a = name(), b = name();
    const auto ia = dag_.find(a), ib = dag_.find(b);
    const std::size_t nodes = dag_.node_count(), edges = dag_.edge_count();
    if (node) {
      const std::size_t degree = ia ? dag_.graph().degree(*ia, Direction::Outgoing) +
                                          dag_.graph().degree(*ia, Direction::Incoming)
                                    : 0;
      const Status removed = dag_.remove_node(a);
      check(removed.ok() == ia.has_value(), "remove_node");
      if (!ia)
        return check(removed.error() == TorvexError::node_not_found(std::string(a)), "remove_node");
      check(dag_.node_count() == nodes - 1 && dag_.edge_count() == edges - degree,
            "remove_node left edges");
      return succeeded();
    }
    const bool had = ia && ib && *dag_.has_edge(a, b);
    const Status removed = dag_.remove_edge(a, b);
    check(removed.ok() == had, "remove_edge");
    if (!had) {
      const TorvexError want = !ia   ? TorvexError::node_not_found(std::string(a))
                               : !ib ? TorvexError::node_not_found(std::string(b))
                                     : TorvexError::edge_not_found(std::string(a), std::string(b));
      return check(removed.error() == want, "remove_edge error", want.display());
    }
    check(dag_.edge_count() == edges - 1, "remove_edge");
    succeeded();
  }

  // A cached list equals a fresh computation and its definition; each read counts once.
  void read_cached() {
    const StableGraph& g = dag_.graph();
    const std::uint64_t reads = dag_.cache_hits() + dag_.cache_misses();
    switch (in_.pick(5)) {
      case 0:
      case 1: {
        const bool roots = in_.byte() & 1;
        IndexList want;
        for (NodeIndex n : dag_.nodes()) {
          if (g.degree(n, roots ? Direction::Incoming : Direction::Outgoing) == 0)
            want.push_back(n);
        }
        check(*(roots ? dag_.roots() : dag_.leaves()) == want, "roots or leaves differ");
        break;
      }
      case 2:
      case 3: {
        const bool kahn = in_.byte() & 1;
        auto got = kahn ? dag_.topological_sort() : dag_.topological_sort_dfs();
        auto fresh =
            kahn ? algorithms::topological_sort_kahn(g) : algorithms::topological_sort_dfs(g);
        check(got.ok() && fresh.ok() && **got == *fresh, "cached order differs from a fresh one");
        check_topo_order(g, *fresh, "topological order");
        break;
      }
      default: {
        auto got = dag_.topological_levels();
        check(got.ok() && **got == *algorithms::topological_levels(g), "cached levels differ");
        // Level k holds the nodes whose longest path from a source has k edges, by name.
        std::vector<std::size_t> level(g.node_bound(), 0);  // k + 1 once placed on level k
        IndexList flat;
        for (std::size_t k = 0; k < (*got)->size(); ++k) {
          const IndexList& nodes = (**got)[k];
          check(!nodes.empty(), "an empty level");
          for (std::size_t i = 0; i < nodes.size(); ++i) {
            check(i == 0 || g.name(nodes[i - 1]) < g.name(nodes[i]), "level not in name order");
            std::size_t deepest = 0;
            g.for_each_predecessor(nodes[i],
                                   [&](NodeIndex p) { deepest = std::max(deepest, level[p]); });
            check(deepest == k, "a level is not the longest path");
            level[nodes[i]] = k + 1;
            flat.push_back(nodes[i]);
          }
        }
        check_topo_order(g, flat, "levels");
        break;
      }
    }
    check(dag_.cache_hits() + dag_.cache_misses() == reads + 1, "a read counted otherwise");
    check(dag_.cache_size() <= 5, "more cached results than lists");
  }

  // Handles: fresh ones resolve to their slot; old ones report removal or replacement.
  void handles() {
    if (auto fresh = dag_.node_ref(name()))
      keep(*fresh);
    if (handles_.empty())
      return;
    const NodeHandle& handle = handles_[in_.pick(handles_.size())];
    auto got = dag_.resolve_ref(handle);
    const auto n = dag_.find(handle.name);
    if (!n)
      return check(got.error() == TorvexError::node_not_found(handle.name), "resolve_ref");
    if (dag_.epoch(*n) != handle.epoch)
      return check(got.error() == TorvexError::stale_node_ref(handle.name), "resolve_ref");
    check(got.ok() && *got == *n, "resolve_ref gives another slot");
  }

  // Ancestry against the plain search; on small graphs all orderings: valid, distinct, in name
  // order, and a limit gives their first ones.
  void orderings() {
    const std::string_view a = name(), b = name();
    if (dag_.contains(a) && dag_.contains(b)) {
      const bool reached =
          a == b || algorithms::would_create_cycle(dag_.graph(), *dag_.find(b), *dag_.find(a));
      check(*dag_.is_ancestor(a, b) == reached, "is_ancestor differs from the search");
    }
    if (dag_.node_count() > 5)
      return;
    const StableGraph& g = dag_.graph();
    auto all = dag_.all_topological_orderings(std::nullopt);
    check(all.ok() && (all->empty() == (dag_.node_count() == 0)), "no orderings");
    auto by_name = [&](NodeIndex x, NodeIndex y) { return g.name(x) < g.name(y); };
    for (std::size_t i = 0; i < all->size(); ++i) {
      check_topo_order(g, (*all)[i], "an ordering");
      check(i == 0 || std::lexicographical_compare((*all)[i - 1].begin(), (*all)[i - 1].end(),
                                                   (*all)[i].begin(), (*all)[i].end(), by_name),
            "orderings out of name order");
    }
    const std::size_t limit = in_.pick(4);
    auto some = dag_.all_topological_orderings(limit);
    check(some.ok() && some->size() == std::min(limit, all->size()) &&
              std::equal(some->begin(), some->end(), all->begin()),
          "a limit does not give the first orderings");
  }

  ByteReader& in_;
  Dag dag_;
  std::uint64_t generation_ = 0;
  bool changed_ = false;
  std::vector<NodeHandle> handles_;
};

}  // namespace
}  // namespace torvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torvex::fuzz::ByteReader in(data, size);
  torvex::fuzz::Run run(in);
  for (std::size_t i = 0; i < torvex::fuzz::kMaxSteps && !in.done(); ++i)
    run.step();
  return 0;
}
