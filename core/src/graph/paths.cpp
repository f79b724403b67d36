// The paths topic: names in, NodeId lists out; the searches live in algorithms/paths.
#include "graph/paths.hpp"

#include <utility>

#include "algorithms/paths.hpp"
#include "interrupt.hpp"

namespace torvex {

Result<std::vector<std::vector<NodeId>>> all_paths(const GraphStore& store, std::string_view from,
                                                   std::string_view to,
                                                   std::optional<std::size_t> limit) {
  TORVEX_TRY(source, store.resolve_name(from));
  TORVEX_TRY(target, store.resolve_name(to));
  const auto paths = algorithms::all_paths(store.graph(), source, target, limit);
  std::vector<std::vector<NodeId>> named;
  named.reserve(paths.size());
  for (const auto& path : paths) {
    interrupt::poll(path.size());
    named.push_back(store.node_ids(path));
  }
  return named;
}

Result<std::optional<std::vector<NodeId>>> shortest_path(const GraphStore& store,
                                                         std::string_view from,
                                                         std::string_view to) {
  TORVEX_TRY(source, store.resolve_name(from));
  TORVEX_TRY(target, store.resolve_name(to));
  const auto path = algorithms::shortest_path(store.graph(), source, target);
  if (!path)
    return std::optional<std::vector<NodeId>>();
  return std::optional(store.node_ids(*path));
}

Result<std::optional<NamedCostedPath>> longest_path(const GraphStore& store, std::string_view from,
                                                    std::string_view to, const CostMap& costs) {
  TORVEX_TRY(source, store.resolve_name(from));
  TORVEX_TRY(target, store.resolve_name(to));
  const auto found =
      algorithms::longest_path(store.graph(), source, target, names_to_indices(store, costs));
  if (!found)
    return std::optional<NamedCostedPath>();
  return std::optional(NamedCostedPath{store.node_ids(found->path), found->total});
}

}  // namespace torvex
