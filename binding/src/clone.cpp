// Copying nodes and edges into new graphs with shared payload objects.
#include "clone.hpp"

#include "exceptions.hpp"
#include "interrupt.hpp"

namespace torvex::binding {

NewDAG new_dag() {
  NewDAG out;
  out.object = py::Ref::steal(py::make<PyDAG>());
  if (out.object)
    out.graph = &py::value_of<PyDAG>(out.object.get());
  return out;
}

PyNodePayload clone_payload(const PyNodePayload& record) noexcept {
  return record.clone();
}

Result<NodeIndex> clone_node(const CoreDAG& source, NodeIndex n, CoreDAG& destination) {
  const std::string_view name = source.graph().name(n);
  // Without vacant slots the new node takes the next one; spares a name lookup.
  const bool appends = destination.node_count() == destination.graph().node_bound();
  const NodeIndex next = destination.graph().node_bound();
  Result<NodeHandle> added =
      destination.add_node(std::string(name), clone_payload(source.payload(n)));
  if (!added)
    return std::move(added).error();
  return appends ? next : *destination.find(name);
}

bool clone_nodes(const CoreDAG& source, CoreDAG& destination, std::vector<NodeIndex>* slots) {
  const StableGraph& graph = source.graph();
  if (slots != nullptr)
    slots->assign(graph.node_bound(), kEnd);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();  // the copy is a new object, dropped whole when a signal stops it
    if (!graph.is_live(n))
      continue;
    Result<NodeIndex> copy = clone_node(source, n, destination);
    if (!copy) {
      into_pyerr(copy.error());
      return false;
    }
    if (slots != nullptr)
      (*slots)[n] = *copy;
  }
  return true;
}

namespace {

// Copies each live edge of `source` in edge slot order whose endpoints `map` places in
// `destination` (map returns nothing for an endpoint without copy).
template <class Map>
bool copy_mapped_edges(const CoreDAG& source, CoreDAG& destination, Map&& map) {
  const StableGraph& graph = source.graph();
  if (graph.edge_count() == 0 || destination.node_count() == 0)
    return true;
  EdgeCopier copier(destination);
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    interrupt::poll();
    if (!graph.is_edge_live(e))
      continue;
    const std::optional<NodeIndex> from = map(graph.edge_source(e));
    const std::optional<NodeIndex> to = map(graph.edge_target(e));
    if (!from || !to)
      continue;
    Status status = copier.add(*from, *to, graph.edge_weight(e), graph.edge_label(e));
    if (!status) {
      into_pyerr(status.error());
      return false;
    }
  }
  Status status = copier.finish();
  if (!status) {
    into_pyerr(status.error());
    return false;
  }
  return true;
}

}  // namespace

bool clone_edges(const CoreDAG& source, CoreDAG& destination, const std::vector<NodeIndex>& slots) {
  return copy_mapped_edges(source, destination, [&](NodeIndex n) -> std::optional<NodeIndex> {
    if (slots[n] == kEnd)
      return std::nullopt;
    return slots[n];
  });
}

Status EdgeCopier::add(NodeIndex from, NodeIndex to, std::optional<double> weight,
                       const std::string* label) {
  std::optional<std::string> label_copy;
  if (label != nullptr)
    label_copy.emplace(*label);
  return batch_.add(from, to, weight, std::move(label_copy));
}

}  // namespace torvex::binding
