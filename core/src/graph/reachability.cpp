// The reachability topic: resolution by the index's own names, never by the graph's.
#include "graph/reachability.hpp"

#include <utility>

namespace torvex {

NamedReachabilityIndex::NamedReachabilityIndex(algorithms::ReachabilityIndex index,
                                               std::vector<std::string> names)
    : index_(std::move(index)), names_(std::move(names)) {
  by_name_.reserve(names_.size());
  const IndexList& order = index_.order();
  for (std::size_t p = 0; p < names_.size(); ++p)
    by_name_.emplace(names_[p], order[p]);
}

Result<NodeIndex> NamedReachabilityIndex::resolve(std::string_view name) const {
  const auto it = by_name_.find(name);
  if (it == by_name_.end())
    return TorvexError::node_not_found(std::string(name));
  return it->second;
}

std::vector<std::string_view> NamedReachabilityIndex::names_of(const IndexList& nodes) const {
  std::vector<std::string_view> names;
  names.reserve(nodes.size());
  for (const NodeIndex n : nodes)
    names.push_back(names_[*index_.position(n)]);
  return names;
}

Result<bool> NamedReachabilityIndex::can_reach(std::string_view from, std::string_view to) const {
  TORVEX_TRY(source, resolve(from));
  TORVEX_TRY(target, resolve(to));
  return index_.can_reach(source, target);
}

Result<std::vector<std::string_view>> NamedReachabilityIndex::reachable_from(
    std::string_view node) const {
  TORVEX_TRY(n, resolve(node));
  return names_of(index_.reachable_from(n));
}

Result<std::vector<std::string_view>> NamedReachabilityIndex::ancestors_of(
    std::string_view node) const {
  TORVEX_TRY(n, resolve(node));
  return names_of(index_.ancestors_of(n));
}

Result<NamedReachabilityIndex> build_reachability_index(const GraphStore& store) {
  TORVEX_TRY(index, algorithms::ReachabilityIndex::build(store.graph()));
  std::vector<std::string> names;
  names.reserve(index.node_count());
  for (const NodeIndex n : index.order())
    names.emplace_back(store.graph().name(n));
  return NamedReachabilityIndex(std::move(index), std::move(names));
}

}  // namespace torvex
