// The DAG store: a stable graph of named nodes that never holds a cycle, with a name index,
// node epochs for handles, a generation counter and the cache of derived lists.
//
// Concurrency: mutators need exclusive access (the caller guarantees it); everything else may
// run on several threads at once, their only shared writes going to the cache under its lock.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "algorithms/cycle.hpp"
#include "errors.hpp"
#include "graph/cache.hpp"
#include "graph/dynamic_order.hpp"
#include "graph/name_index.hpp"
#include "graph/stable_graph.hpp"
#include "hash.hpp"
#include "node.hpp"

namespace torvex {

// Runs the search it is given; add_edge hands its cycle search (and nothing else) to it.
using SearchWrapper = std::function<void(const std::function<void()>&)>;

// Everything of the store but the payloads: names, topology, epochs, generation, cache.
class GraphStore {
 public:
  GraphStore();
  GraphStore(const GraphStore&) = delete;
  GraphStore& operator=(const GraphStore&) = delete;
  ~GraphStore();

  const StableGraph& graph() const noexcept { return graph_; }

  // --- resolution (construction topic) --------------------------------------------------
  // Errors: NodeNotFound with the name.
  Result<NodeIndex> resolve_name(std::string_view name) const;
  // Errors: NodeNotFound when the name has no node, StaleNodeRef when its epoch differs.
  Result<NodeIndex> resolve_ref(const NodeHandle& handle) const;
  std::optional<NodeIndex> find(std::string_view name) const noexcept;
  // Hints for callers that know which names and nodes come next: the memory that resolving the
  // name, or linking an edge at the node, will read is requested early (no observable effect).
  void prefetch_name(std::string_view name) const noexcept { name_index_.prefetch(name); }
  void prefetch_node(NodeIndex n) const noexcept {
    graph_.prefetch_heads(n);
    order_.prefetch(n);
  }
  bool contains(std::string_view name) const noexcept { return find(name).has_value(); }
  // A handle for the live node of that name, or nothing.
  std::optional<NodeHandle> node_ref(std::string_view name) const;
  std::uint64_t epoch(NodeIndex n) const noexcept { return epochs_[n]; }
  std::uint64_t next_epoch() const noexcept { return next_epoch_; }
  std::uint64_t generation() const noexcept { return generation_; }
  // Only for copies that take their source's counter.
  void set_generation(std::uint64_t g) noexcept { generation_ = g; }

  // --- structural changes (exclusive access) --------------------------------------------
  // Refuses an edge that would close a cycle. Most edges are settled in constant time by the
  // incremental order; only a real search runs inside `around_search` (when given), so a caller
  // can release its own locks for that work alone. Requires: both are live slots.
  // Errors: Cycle "Edge {} -> {} would create a cycle: {}"; Graph when the edge slot space is
  // exhausted.
  // Invalidates: the cache; bumps the generation.
  // Complexity: O(1) usually; O(nodes reachable from `to`) for a search.
  Status add_edge(NodeIndex from, NodeIndex to, std::optional<double> weight,
                  std::optional<std::string> label, const SearchWrapper& around_search = {});
  // Resolves from, then to, and adds as above. Errors: NodeNotFound first.
  Status add_edge(std::string_view from, std::string_view to, std::optional<double> weight,
                  std::optional<std::string> label, const SearchWrapper& around_search = {});
  // What the incremental order's searches have visited so far (see DynamicTopoOrder).
  std::uint64_t search_work() const noexcept { return order_.search_work(); }
  // The latest edges' search cost per edge, on a running average (see DynamicTopoOrder).
  double recent_search_work() const noexcept { return order_.recent_work_per_edge(); }
  // Bulk loading: edges go in without the cycle test and the batch is checked once at the end,
  // with exactly the outcome of one add_edge per edge (see EdgeBatch).
  friend class EdgeBatch;

  // Removes the most recently added edge from -> to.
  // Errors: NodeNotFound (source first), EdgeNotFound.
  Status remove_edge(std::string_view from, std::string_view to);
  // Errors: NodeNotFound (source first).
  Result<bool> has_edge(std::string_view from, std::string_view to) const;
  // generation += 1 and the cache emptied.
  void bump_generation();
  // Room for this many more nodes and edges, so bulk insertion and copies do not regrow.
  // Invalidates: nothing observable.
  void reserve(std::size_t nodes, std::size_t edges);

  // --- introspection --------------------------------------------------------------------
  std::size_t node_count() const noexcept { return graph_.node_count(); }
  std::size_t edge_count() const noexcept { return graph_.edge_count(); }
  IndexList nodes() const;  // live slots in index order
  std::vector<std::string> node_names() const;
  // (source, target) of every live edge, in edge slot order.
  std::vector<std::pair<NodeIndex, NodeIndex>> edges() const;
  SharedIndexList roots() const;   // cached
  SharedIndexList leaves() const;  // cached
  // Errors: NodeNotFound.
  Result<IndexList> successors(std::string_view name) const;
  Result<IndexList> predecessors(std::string_view name) const;
  Result<std::size_t> out_degree(std::string_view name) const;
  Result<std::size_t> in_degree(std::string_view name) const;
  // True when `descendant` is reachable from `ancestor` or both are the same node.
  // Errors: NodeNotFound (ancestor first).
  Result<bool> is_ancestor(std::string_view ancestor, std::string_view descendant) const;
  // Errors: Cycle "Graph contains {} cycle(s): [{}]" should the graph ever hold one.
  Status validate() const;

  // --- orders (cached except the enumeration) ---------------------------------------------
  Result<SharedIndexList> topological_sort() const;
  Result<SharedIndexList> topological_sort_dfs() const;
  Result<SharedLevels> topological_levels() const;
  Result<std::vector<IndexList>> all_topological_orderings(std::optional<std::size_t> limit) const;

  // --- cache ----------------------------------------------------------------------------
  std::uint64_t cache_hits() const;
  std::uint64_t cache_misses() const;
  std::size_t cache_size() const;
  // Empties the derived lists; safe beside concurrent readers (the cache has its own lock).
  void clear_cache() const;
  // The working forms of the current graph: from the cache, or built now and kept there. Neither
  // counts as a hit or a miss.
  SharedFlatSuccessors flat_successors() const;
  SharedNamePrefixes name_prefixes() const;

  // NodeId records for a list of live indices.
  std::vector<NodeId> node_ids(const IndexList& indices) const;

 protected:
  // Inserts a node with a fresh epoch and bumps the generation.
  // Errors: DuplicateNode; Graph when the slot space is exhausted.
  Result<NodeHandle> insert_node(std::string name, NodeIndex* index_out);
  // Removes a resolved node with its edges and bumps the generation.
  void erase_node(NodeIndex n);

 private:
  template <class T, class Compute>
  std::shared_ptr<const T> with_cache(std::shared_ptr<const T> DagCache::*slot,
                                      Compute&& compute) const;
  template <class T, class Compute>
  Result<std::shared_ptr<const T>> with_cache_result(std::shared_ptr<const T> DagCache::*slot,
                                                     Compute&& compute) const;
  template <class T, class Build>
  std::shared_ptr<const T> working_form(std::shared_ptr<const T> DagCache::*slot,
                                        Build&& build) const;
  template <class T>
  void keep_working_form(std::shared_ptr<const T> DagCache::*slot,
                         std::shared_ptr<const T> form) const;

  // The cycle test of add_edge: the breadth-first path of would_create_cycle when the edge would
  // close a cycle, else nothing; keeps the incremental order ready for the edge. For an edge
  // that the order's constant-time tests did not settle.
  std::optional<IndexList> find_cycle_path(NodeIndex from, NodeIndex to);
  TorvexError cycle_error(NodeIndex from, NodeIndex to, const IndexList& path) const;

  StableGraph graph_;
  NameIndex name_index_;               // reads the names in graph_
  std::vector<std::uint64_t> epochs_;  // by slot; meaningful for live slots only
  std::uint64_t next_epoch_ = 0;
  std::uint64_t generation_ = 0;
  mutable std::shared_mutex cache_lock_;
  mutable DagCache cache_;
  mutable std::uint64_t working_generation_ = 0;  // of the working forms in cache_
  algorithms::CycleScratch scratch_;              // for the cycle test of add_edge
  DynamicTopoOrder order_;
};

// Edges added by name, in order, as by add_edge each, but with one cycle check for the whole
// batch in finish(): loaders of whole graphs use it. Until finish() the store may hold a cycle
// and must not be used otherwise. Exclusive access to the store throughout.
//
// With a search budget, each edge is first checked on its own by the incremental order, as
// add_edge checks it, until the searches have visited that many nodes and edges; the edges after
// that are left to finish(). A short batch then costs no pass over the whole graph.
class EdgeBatch {
 public:
  // Edges are checked on their own until the incremental order's searches have cost
  // `search_budget`; each search runs inside `around_search` (when given), as in add_edge.
  explicit EdgeBatch(GraphStore& store, std::uint64_t search_budget = 0,
                     const SearchWrapper* around_search = nullptr) noexcept
      : store_(store),
        start_generation_(store.generation()),
        search_budget_(search_budget),
        work_start_(store.search_work()),
        around_search_(around_search) {}
  // A batch left unfinished (an exception passed through its owner) is taken out again, so the
  // store never keeps a cycle or an order that is out of date.
  ~EdgeBatch();
  EdgeBatch(const EdgeBatch&) = delete;
  EdgeBatch& operator=(const EdgeBatch&) = delete;

  // Errors: NodeNotFound (source first); Graph when the edge slot space is exhausted; Cycle, as
  // add_edge words it, for an edge checked on its own (nothing is added then).
  Status add(std::string_view from, std::string_view to, std::optional<double> weight,
             std::optional<std::string> label);
  // The same on resolved nodes, for copies that know their endpoints' slots.
  // Requires: both are live slots. Errors: Graph when the edge slot space is exhausted; Cycle as
  // above.
  Status add(NodeIndex from, NodeIndex to, std::optional<double> weight,
             std::optional<std::string> label);

  std::size_t size() const noexcept { return added_.size(); }

  // Ok when the graph is acyclic. Otherwise the store is left as one add_edge per edge would
  // leave it: the edges before the first one that closes a cycle stay, and that edge's error is
  // returned.
  // Invalidates: the cache, only when at least one edge stays; the generation counts the edges
  // that stay.
  // Complexity: O(batch) when the incremental order already places every edge of the batch;
  // otherwise O(V + E) when acyclic, and with a cycle, O(V + E) plus a binary search over the
  // batch on the part of the graph that no topological order could place.
  Status finish();

 private:
  // Whether the edge from -> to may go in: true once the budget is spent (finish() decides),
  // else the incremental order's answer, the order updated.
  bool checked_alone(NodeIndex from, NodeIndex to);

  GraphStore& store_;
  std::uint64_t start_generation_;
  std::uint64_t search_budget_;
  std::uint64_t work_start_;
  const SearchWrapper* around_search_;
  bool all_checked_ = true;  // every edge added so far was checked on its own
  std::vector<EdgeIndex> added_;
};

// The store with a payload per node. Payload must be default-constructible and movable;
// the default value stands in vacant slots.
template <class Payload>
class DAG : public GraphStore {
 public:
  DAG() = default;

  // Errors: DuplicateNode (the payload is dropped); Graph when the slot space is exhausted.
  // Invalidates: the cache; bumps the generation.
  Result<NodeHandle> add_node(std::string name, Payload payload) {
    NodeIndex n = kEnd;
    // Room first, so that a failed allocation leaves the store as it was.
    if (payloads_.capacity() < graph().node_bound() + std::size_t{1}) {
      payloads_.reserve(std::max<std::size_t>(payloads_.capacity() * 2, graph().node_bound() + 1));
    }
    auto handle = insert_node(std::move(name), &n);
    if (!handle.ok())
      return handle;
    if (n >= payloads_.size())
      payloads_.resize(std::size_t{n} + 1);  // capacity reserved above
    payloads_[n] = std::move(payload);
    return handle;
  }

  // Removes the node, its edges and its payload.
  // Errors: NodeNotFound. Invalidates: the node's index and handles; the cache.
  Status remove_node(std::string_view name) {
    TORVEX_TRY(n, resolve_name(name));
    payloads_[n] = Payload();  // drops the node's payload
    erase_node(n);
    return {};
  }

  // Neither changes the generation or the cache. Errors: NodeNotFound.
  Result<const Payload*> get_payload(std::string_view name) const {
    TORVEX_TRY(n, resolve_name(name));
    return &payloads_[n];
  }
  Result<Payload*> get_payload_mut(std::string_view name) {
    TORVEX_TRY(n, resolve_name(name));
    return &payloads_[n];
  }
  void reserve(std::size_t nodes, std::size_t edges) {
    GraphStore::reserve(nodes, edges);
    payloads_.reserve(payloads_.size() + nodes);
  }

  // Requires: graph().is_live(n).
  const Payload& payload(NodeIndex n) const noexcept { return payloads_[n]; }
  Payload& payload(NodeIndex n) noexcept { return payloads_[n]; }

  // Every payload slot by index, vacant ones (holding the default value) included. Only the
  // node operations above change them: edge changes, orders and the cache never do.
  // Invalidates: the span, on add_node (the slots may move).
  std::span<const Payload> payload_slots() const noexcept { return payloads_; }
  std::span<Payload> payload_slots() noexcept { return payloads_; }

 private:
  std::vector<Payload> payloads_;
};

}  // namespace torvex
