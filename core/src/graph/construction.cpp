// The construction topic: creation, resolution, handles and the four structural changes.
#include <algorithm>

#include "algorithms/cycle.hpp"
#include "graph/dag.hpp"

namespace torvex {

GraphStore::GraphStore()
    : name_index_(0, NameHash{&graph_, random_seed()}, NameEq{&graph_}) {}

GraphStore::~GraphStore() = default;

std::optional<NodeIndex> GraphStore::find(std::string_view name) const noexcept {
  auto it = name_index_.find(name);
  if (it == name_index_.end()) return std::nullopt;
  return *it;
}

Result<NodeIndex> GraphStore::resolve_name(std::string_view name) const {
  if (auto n = find(name)) return *n;
  return TorvexError::node_not_found(std::string(name));
}

Result<NodeIndex> GraphStore::resolve_ref(const NodeHandle& handle) const {
  auto n = find(handle.name);
  if (!n) return TorvexError::node_not_found(handle.name);
  if (epochs_[*n] != handle.epoch) return TorvexError::stale_node_ref(handle.name);
  return *n;
}

std::optional<NodeHandle> GraphStore::node_ref(std::string_view name) const {
  auto n = find(name);
  if (!n) return std::nullopt;
  return NodeHandle{std::string(name), epochs_[*n]};
}

Result<NodeHandle> GraphStore::insert_node(std::string name, NodeIndex* index_out) {
  if (contains(name)) return TorvexError::duplicate_node(std::move(name));
  // Reserve everything first, so that a failed allocation leaves the store as it was.
  name_index_.reserve(name_index_.size() + 1);
  if (epochs_.capacity() < std::size_t{graph_.node_bound()} + 1) {
    epochs_.reserve(std::max(epochs_.capacity() * 2, std::size_t{graph_.node_bound()} + 1));
  }
  order_.reserve_for(graph_.node_bound());
  NodeHandle handle{name, next_epoch_};
  TORVEX_TRY(n, graph_.add_node(std::move(name)));
  if (n >= epochs_.size()) epochs_.resize(std::size_t{n} + 1);
  order_.on_add_node(n);
  epochs_[n] = next_epoch_++;
  name_index_.insert(n);
  if (index_out) *index_out = n;
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
  name_index_.erase(n);  // hashes the name, so before the slot is emptied
  graph_.remove_node(n);
  bump_generation();
}

TorvexError GraphStore::cycle_error(NodeIndex from, NodeIndex to, const IndexList& path) const {
  std::string text = "Edge ";
  text.append(graph_.name(from)).append(" -> ").append(graph_.name(to));
  text.append(" would create a cycle: ");
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i) text.append(" -> ");
    text.append(graph_.name(path[i]));
  }
  return TorvexError::cycle(std::move(text));
}

std::optional<IndexList> GraphStore::find_cycle_path(NodeIndex from, NodeIndex to) {
  if (order_.order_edge(graph_, from, to)) return std::nullopt;
  // Rare: the edge is refused, and the report names the breadth-first path.
  return algorithms::would_create_cycle(graph_, from, to, &scratch_);
}

Status GraphStore::insert_edge(NodeIndex from, NodeIndex to, std::optional<double> weight,
                               std::optional<std::string> label) {
  // O(1) after the caller's own find_cycle_path; a caller that skipped it can still not store a
  // cycle, nor leave the incremental order behind the graph.
  if (auto path = find_cycle_path(from, to)) return cycle_error(from, to, *path);
  auto owned_label = label ? std::make_unique<std::string>(std::move(*label)) : nullptr;
  TORVEX_TRY_STATUS(graph_.add_edge(from, to, weight.value_or(1.0), std::move(owned_label)));
  bump_generation();
  return {};
}

Status GraphStore::add_edge(std::string_view from, std::string_view to,
                            std::optional<double> weight, std::optional<std::string> label) {
  TORVEX_TRY(a, resolve_name(from));
  TORVEX_TRY(b, resolve_name(to));
  return insert_edge(a, b, weight, std::move(label));
}

Status GraphStore::remove_edge(std::string_view from, std::string_view to) {
  TORVEX_TRY(a, resolve_name(from));
  TORVEX_TRY(b, resolve_name(to));
  const EdgeIndex e = graph_.find_edge(a, b);
  if (e == kEnd) return TorvexError::edge_not_found(std::string(from), std::string(to));
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
  for (NodeIndex n : indices) out.push_back(NodeId{std::string(graph_.name(n)), n});
  return out;
}

Status EdgeBatch::add(std::string_view from, std::string_view to, std::optional<double> weight,
                      std::optional<std::string> label) {
  TORVEX_TRY(a, store_.resolve_name(from));
  TORVEX_TRY(b, store_.resolve_name(to));
  auto owned_label = label ? std::make_unique<std::string>(std::move(*label)) : nullptr;
  // Room first (geometric), so the push_back below cannot fail after the edge is in.
  if (added_.size() == added_.capacity()) added_.reserve(2 * added_.size() + 16);
  TORVEX_TRY(e, store_.graph_.add_edge(a, b, weight.value_or(1.0), std::move(owned_label)));
  added_.push_back(e);
  // The cache is left for finish(): nothing can fill it while the batch holds the store, and a
  // batch that is taken out again must leave it as it was.
  ++store_.generation_;
  return {};
}

EdgeBatch::~EdgeBatch() {
  if (added_.empty()) return;
  for (auto e = added_.rbegin(); e != added_.rend(); ++e) store_.graph_.remove_edge(*e);
  store_.generation_ = start_generation_;
}

Status EdgeBatch::finish() {
  std::vector<EdgeIndex> added = std::move(added_);
  added_.clear();
  if (store_.order_.rebuild(store_.graph_)) {
    if (!added.empty()) store_.clear_cache();
    return {};
  }
  // A cycle: take the batch out again and let add_edge find the first edge that closes it.
  struct Taken {
    NodeIndex from, to;
    double weight;
    std::optional<std::string> label;
  };
  StableGraph& g = store_.graph_;
  std::vector<Taken> taken;
  taken.reserve(added.size());
  for (EdgeIndex e : added) {
    const std::string* label = g.edge_label(e);
    taken.push_back({g.edge_source(e), g.edge_target(e), g.edge_weight(e),
                     label ? std::optional<std::string>(*label) : std::nullopt});
  }
  for (auto e = added.rbegin(); e != added.rend(); ++e) g.remove_edge(*e);
  // The replay counts its insertions again, and empties the cache only if it keeps one.
  store_.generation_ = start_generation_;
  // The edges that stayed were acyclic before the batch, so the labels of the last rebuild or
  // insertion still order them.
  for (Taken& edge : taken) {
    TORVEX_TRY_STATUS(store_.insert_edge(edge.from, edge.to, edge.weight, std::move(edge.label)));
  }
  return {};
}

}  // namespace torvex
