#include "graph/incremental.hpp"

#include "algorithms/incremental.hpp"
#include "interrupt.hpp"

namespace torvex {
namespace {

Result<IndexList> resolve_all(const GraphStore& store, std::span<const std::string> names) {
  IndexList out;
  out.reserve(names.size());
  for (const std::string& name : names) {
    TORVEX_TRY(n, store.resolve_name(name));
    out.push_back(n);
  }
  return out;
}

std::vector<std::string> names_of(const StableGraph& graph, const IndexList& nodes) {
  std::vector<std::string> out;
  out.reserve(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    interrupt::poll_at(i);
    out.emplace_back(graph.name(nodes[i]));
  }
  return out;
}

}  // namespace

Result<std::vector<std::string>> dirty_set(const GraphStore& store,
                                           std::span<const std::string> changed) {
  TORVEX_TRY(indices, resolve_all(store, changed));
  return names_of(store.graph(), algorithms::dirty_set(store.graph(), indices));
}

Result<std::vector<NamedProvenance>> change_provenance(const GraphStore& store,
                                                       std::span<const std::string> changed) {
  TORVEX_TRY(indices, resolve_all(store, changed));
  const StableGraph& graph = store.graph();
  const auto provenance = algorithms::change_provenance(graph, indices);
  std::vector<NamedProvenance> out;
  out.reserve(provenance.size());
  for (const auto& entry : provenance) {
    interrupt::poll();
    out.push_back({std::string(graph.name(entry.node)), names_of(graph, entry.sources)});
  }
  return out;
}

}  // namespace torvex
