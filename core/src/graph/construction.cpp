// The construction topic: creation, resolution, handles and the four structural changes.
#include <algorithm>

#include "algorithms/cycle.hpp"
#include "graph/dag.hpp"
#include "graph/flat_successors.hpp"
#include "interrupt.hpp"

namespace torvex {

GraphStore::GraphStore() : name_index_(graph_, random_seed()) {}

GraphStore::~GraphStore() = default;

std::optional<NodeIndex> GraphStore::find(std::string_view name) const noexcept {
  return name_index_.find(name);
}

Result<NodeIndex> GraphStore::resolve_name(std::string_view name) const {
  if (auto n = find(name))
    return *n;
  return TorvexError::node_not_found(std::string(name));
}

Result<NodeIndex> GraphStore::resolve_ref(const NodeHandle& handle) const {
  auto n = find(handle.name);
  if (!n)
    return TorvexError::node_not_found(handle.name);
  if (epochs_[*n] != handle.epoch)
    return TorvexError::stale_node_ref(handle.name);
  return *n;
}

std::optional<NodeHandle> GraphStore::node_ref(std::string_view name) const {
  auto n = find(name);
  if (!n)
    return std::nullopt;
  return NodeHandle{std::string(name), epochs_[*n]};
}

Result<NodeHandle> GraphStore::insert_node(std::string name, NodeIndex* index_out) {
  if (contains(name))
    return TorvexError::duplicate_node(std::move(name));
  // Reserve everything first, so that a failed allocation leaves the store as it was.
  name_index_.reserve(name_index_.size() + 1);
  if (epochs_.capacity() < std::size_t{graph_.node_bound()} + 1) {
    epochs_.reserve(std::max(epochs_.capacity() * 2, std::size_t{graph_.node_bound()} + 1));
  }
  order_.reserve_for(graph_.node_bound());
  NodeHandle handle{name, next_epoch_};
  TORVEX_TRY(n, graph_.add_node(std::move(name)));
  if (n >= epochs_.size())
    epochs_.resize(std::size_t{n} + 1);
  order_.on_add_node(n);
  epochs_[n] = next_epoch_++;
  name_index_.insert(n);
  if (index_out)
    *index_out = n;
  bump_generation();
  return handle;
}

void GraphStore::reserve(std::size_t nodes, std::size_t edges) {
  graph_.reserve(nodes, edges);
  name_index_.reserve(name_index_.size() + nodes);
  epochs_.reserve(std::size_t{graph_.node_bound()} + nodes);
  order_.reserve(std::size_t{graph_.node_bound()} + nodes);
}

void GraphStore::erase_node(NodeIndex n) {
  name_index_.erase(n);  // reads the name, so before the slot is emptied
  graph_.remove_node(n);
  bump_generation();
}

TorvexError GraphStore::cycle_error(NodeIndex from, NodeIndex to, const IndexList& path) const {
  std::string text = "Edge ";
  text.append(graph_.name(from)).append(" -> ").append(graph_.name(to));
  text.append(" would create a cycle: ");
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i)
      text.append(" -> ");
    text.append(graph_.name(path[i]));
  }
  return TorvexError::cycle(std::move(text));
}

std::optional<IndexList> GraphStore::find_cycle_path(NodeIndex from, NodeIndex to) {
  if (order_.order_edge_by_search(graph_, from, to))
    return std::nullopt;
  // Rare: the edge is refused, and the report names the breadth-first path.
  return algorithms::would_create_cycle(graph_, from, to, &scratch_);
}

Status GraphStore::add_edge(NodeIndex from, NodeIndex to, std::optional<double> weight,
                            std::optional<std::string> label, const SearchWrapper& around_search) {
  std::optional<IndexList> path;
  if (!order_.order_edge_without_search(graph_, from, to)) {
    const std::function<void()> search = [&] { path = find_cycle_path(from, to); };
    if (around_search)
      around_search(search);
    else
      search();
  }
  if (path)
    return cycle_error(from, to, *path);
  auto owned_label = label ? std::make_unique<std::string>(std::move(*label)) : nullptr;
  TORVEX_TRY_STATUS(graph_.add_edge(from, to, weight.value_or(1.0), std::move(owned_label)));
  bump_generation();
  return {};
}

Status GraphStore::add_edge(std::string_view from, std::string_view to,
                            std::optional<double> weight, std::optional<std::string> label,
                            const SearchWrapper& around_search) {
  TORVEX_TRY(a, resolve_name(from));
  TORVEX_TRY(b, resolve_name(to));
  return add_edge(a, b, weight, std::move(label), around_search);
}

Status GraphStore::remove_edge(std::string_view from, std::string_view to) {
  TORVEX_TRY(a, resolve_name(from));
  TORVEX_TRY(b, resolve_name(to));
  const EdgeIndex e = graph_.find_edge(a, b);
  if (e == kEnd)
    return TorvexError::edge_not_found(std::string(from), std::string(to));
  graph_.remove_edge(e);
  bump_generation();
  return {};
}

Result<bool> GraphStore::has_edge(std::string_view from, std::string_view to) const {
  TORVEX_TRY(a, resolve_name(from));
  TORVEX_TRY(b, resolve_name(to));
  return graph_.find_edge(a, b) != kEnd;
}

std::vector<NodeId> GraphStore::node_ids(const IndexList& indices) const {
  std::vector<NodeId> out;
  out.reserve(indices.size());
  for (NodeIndex n : indices) {
    interrupt::poll();
    out.push_back(NodeId{std::string(graph_.name(n)), n});
  }
  return out;
}

bool EdgeBatch::checked_alone(NodeIndex from, NodeIndex to) {
  DynamicTopoOrder& order = store_.order_;
  if (all_checked_ && order.search_work() - work_start_ >= search_budget_)
    all_checked_ = false;
  if (!all_checked_)
    return true;
  if (order.order_edge_without_search(store_.graph_, from, to))
    return true;
  bool placed = false;
  const std::function<void()> search = [&] {
    placed = order.order_edge_by_search(store_.graph_, from, to);
  };
  if (around_search_ != nullptr && *around_search_)
    (*around_search_)(search);
  else
    search();
  return placed;
}

Status EdgeBatch::add(std::string_view from, std::string_view to, std::optional<double> weight,
                      std::optional<std::string> label) {
  TORVEX_TRY(a, store_.resolve_name(from));
  TORVEX_TRY(b, store_.resolve_name(to));
  return add(a, b, weight, std::move(label));
}

Status EdgeBatch::add(NodeIndex from, NodeIndex to, std::optional<double> weight,
                      std::optional<std::string> label) {
  if (!checked_alone(from, to)) {
    auto path = algorithms::would_create_cycle(store_.graph_, from, to, &store_.scratch_);
    return store_.cycle_error(from, to, path.value());
  }
  auto owned_label = label ? std::make_unique<std::string>(std::move(*label)) : nullptr;
  // Room first (geometric), so the push_back below cannot fail after the edge is in.
  if (added_.size() == added_.capacity())
    added_.reserve(2 * added_.size() + 16);
  TORVEX_TRY(e, store_.graph_.add_edge(from, to, weight.value_or(1.0), std::move(owned_label)));
  added_.push_back(e);
  // The cache is left for finish(): nothing can fill it while the batch holds the store, and a
  // batch that is taken out again must leave it as it was.
  ++store_.generation_;
  return {};
}

EdgeBatch::~EdgeBatch() {
  if (added_.empty())
    return;
  for (auto e = added_.rbegin(); e != added_.rend(); ++e)
    store_.graph_.remove_edge(*e);
  store_.generation_ = start_generation_;
}

namespace {

// The batch position (from 0) of the first batch edge whose insertion closes a cycle, given the
// nodes that Kahn's algorithm could not order (every cycle of every prefix lies among them).
// Binary search over prefixes, each tested on those nodes alone.
// Complexity: O(V + E + (R + E_R) log k) for R residual nodes with E_R edges among them.
std::size_t first_closing_edge(const StableGraph& g, const std::vector<EdgeIndex>& added,
                               const std::vector<NodeIndex>& ordered) {
  std::vector<std::uint32_t> local(g.node_bound(), kEnd);  // residual node -> compact id
  for (NodeIndex n : ordered)
    local[n] = 0;
  std::uint32_t residual = 0;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && local[n] == kEnd)
      local[n] = residual++;
    else
      local[n] = kEnd;
  }
  // Edges among residual nodes, each with the first prefix that holds it (0: before the batch).
  std::vector<std::uint32_t> since(g.edge_bound(), 0);
  for (std::size_t i = 0; i < added.size(); ++i)
    since[added[i]] = static_cast<std::uint32_t>(i + 1);
  struct Arc {
    std::uint32_t from, to, since;
  };
  std::vector<Arc> arcs;
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (!g.is_edge_live(e))
      continue;
    const std::uint32_t a = local[g.edge_source(e)], b = local[g.edge_target(e)];
    if (a != kEnd && b != kEnd)
      arcs.push_back({a, b, since[e]});
  }
  std::vector<std::uint32_t> start(std::size_t{residual} + 1, 0);
  for (const Arc& arc : arcs)
    ++start[arc.from + 1];
  for (std::size_t n = 1; n < start.size(); ++n)
    start[n] += start[n - 1];
  std::vector<Arc> by_source(arcs.size());
  {
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (const Arc& arc : arcs)
      by_source[next[arc.from]++] = arc;
  }
  std::vector<std::uint32_t> degree(residual);
  std::vector<std::uint32_t> queue;
  auto cyclic = [&](std::uint32_t prefix) {
    std::fill(degree.begin(), degree.end(), 0);
    for (const Arc& arc : by_source) {
      if (arc.since <= prefix)
        ++degree[arc.to];
    }
    queue.clear();
    for (std::uint32_t n = 0; n < residual; ++n) {
      if (degree[n] == 0)
        queue.push_back(n);
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const std::uint32_t u = queue[head];
      for (std::uint32_t k = start[u]; k < start[u + 1]; ++k) {
        if (by_source[k].since <= prefix && --degree[by_source[k].to] == 0) {
          queue.push_back(by_source[k].to);
        }
      }
    }
    return queue.size() != residual;
  };
  auto low = std::uint32_t{1}, high = static_cast<std::uint32_t>(added.size());
  while (low < high) {
    const std::uint32_t mid = low + (high - low) / 2;
    if (cyclic(mid))
      high = mid;
    else
      low = mid + 1;
  }
  return low - 1;
}

}  // namespace

Status EdgeBatch::finish() {
  // Until the store changes, a failed allocation leaves the batch to the destructor.
  if (added_.empty())
    return {};  // the graph and its order are as they were
  StableGraph& g = store_.graph_;
  // Edges that the order already places keep it valid and close no cycle: no pass is needed.
  const bool all_placed =
      !all_checked_ && std::all_of(added_.begin(), added_.end(), [&](EdgeIndex e) {
        return store_.order_.precedes(g.edge_source(e), g.edge_target(e));
      });
  if (all_placed)
    store_.order_.note_placed_edges();
  if (all_checked_ || all_placed) {
    store_.clear_cache();
    added_.clear();
    return {};
  }
  auto flat = std::make_shared<const FlatSuccessors>(g);
  const std::vector<NodeIndex> ordered = any_topological_order(g, *flat);
  if (ordered.size() == g.node_count()) {
    store_.order_.assign(ordered, *flat);
    store_.clear_cache();
    // The check's successor array serves the orders of this generation too.
    store_.keep_working_form(&DagCache::successors, std::move(flat));
    added_.clear();
    return {};
  }
  flat.reset();
  // A cycle. One add_edge per item would have kept the edges before the first one that closes
  // it and failed there, so the store ends up just so.
  const std::size_t first = first_closing_edge(g, added_, ordered);
  struct Taken {
    NodeIndex from, to;
    double weight;
    std::unique_ptr<std::string> label;
  };
  std::vector<Taken> taken;
  taken.reserve(first + 1);
  const std::vector<EdgeIndex> added = std::move(added_);
  added_.clear();
  for (std::size_t i = 0; i <= first; ++i) {
    const EdgeIndex e = added[i];
    taken.push_back({g.edge_source(e), g.edge_target(e), g.edge_weight(e), g.take_label(e)});
  }
  for (auto e = added.rbegin(); e != added.rend(); ++e)
    g.remove_edge(*e);
  // Back into the slots they had, in the same order: the graph is the one of the edge-by-edge
  // insertion up to the failing edge (nothing allocates here, the room is still there).
  for (std::size_t i = 0; i < first; ++i) {
    Taken& edge = taken[i];
    TORVEX_TRY_STATUS(g.add_edge(edge.from, edge.to, edge.weight, std::move(edge.label)));
  }
  // A batch whose first edge fails changed nothing: the cache stays as it was.
  store_.generation_ = start_generation_ + first;
  if (first > 0)
    store_.clear_cache();
  const FlatSuccessors successors(g);
  store_.order_.assign(any_topological_order(g, successors), successors);
  const Taken& failing = taken[first];
  auto path = algorithms::would_create_cycle(g, failing.from, failing.to, &store_.scratch_);
  return store_.cycle_error(failing.from, failing.to, path.value());
}

}  // namespace torvex
