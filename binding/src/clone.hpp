// Copying graphs into new DAG objects: nodes and edges are added afresh by name (new slots,
// epochs from 0, an empty cache), and every copied node shares its payload and metadata objects
// with the node it was copied from. Used by the transforms and the subgraph methods.
//
// Everything here requires the interpreter lock (adding references does). On failure the
// functions return false with the Python exception set; whatever they added before the failure
// stays in the destination, so callers drop the whole new object. The copying loops poll for
// interrupts (interrupt::Interrupted, with the signal handler's exception set).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dag_object.hpp"

namespace torvex::binding {

// A new, empty DAG object and its graph, which only this caller can see until it hands the
// object out (so it may be filled without a borrow).
struct NewDAG {
  py::Ref object;
  CoreDAG* graph = nullptr;

  explicit operator bool() const noexcept { return static_cast<bool>(object); }
};
// Null `object` with an error set on failure.
NewDAG new_dag();

// The same payload and metadata objects, one more reference to each present one.
PyNodePayload clone_payload(const PyNodePayload& record) noexcept;

// Adds every live node of `source`, in slot order, with a clone of its payload record.
// When `slots` is given it receives, per source slot, the destination slot of its copy (kEnd
// for vacant slots). Errors: DuplicateNodeError when a name is already in `destination`.
bool clone_nodes(const CoreDAG& source, CoreDAG& destination,
                 std::vector<NodeIndex>* slots = nullptr);

// Adds every edge of `source`, in edge slot order, whose two endpoints have copies in
// `destination` (`slots` as clone_nodes fills it, kEnd for a node without copy), with its weight
// and label; parallel edges stay parallel. One EdgeCopier: the outcome of one add_edge per edge.
// Errors: CycleError should the destination's edges close a cycle with them.
bool clone_edges(const CoreDAG& source, CoreDAG& destination, const std::vector<NodeIndex>& slots);

// Adds a copy of source node `n` (clone of its payload record) and returns its slot.
// Errors: the core's DuplicateNode.
Result<NodeIndex> clone_node(const CoreDAG& source, NodeIndex n, CoreDAG& destination);

// Edges going into a new graph, in order, with the outcome of one add_edge each but one cycle
// check for them all in finish() (the store's EdgeBatch). A new graph's node order says nothing
// about its edges, and add_edge searches for every edge that runs against that order: copied
// one by one, a graph whose nodes came in an order unrelated to its edges costs a search over
// much of the graph per edge. Until finish() the destination may hold a cycle: it may be read
// (find_edge) but not changed otherwise. Left unfinished (an error, an interrupt), the edges are
// taken out again. The endpoints are resolved destination slots.
class EdgeCopier {
 public:
  explicit EdgeCopier(CoreDAG& destination) noexcept : batch_(destination) {}

  // With a copy of the label. Errors: the core's Graph error when the edge slot space is
  // exhausted.
  Status add(NodeIndex from, NodeIndex to, std::optional<double> weight, const std::string* label);
  // Errors: the core's cycle error ("Edge {} -> {} would create a cycle: {}") for the first edge
  // that closes a cycle, the edges before it kept.
  Status finish() { return batch_.finish(); }

 private:
  EdgeBatch batch_;
};

}  // namespace torvex::binding
