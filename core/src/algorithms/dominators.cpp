#include "algorithms/dominators.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>

#include "algorithms/node_set.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms {
namespace {

// The nearest common dominator of a and b, in local numbers. An immediate dominator always sits
// earlier in the order, so moving the later finger up makes the two meet there.
NodeIndex intersect(const IndexList& idom, const IndexList& position, NodeIndex a, NodeIndex b) {
  while (a != b) {
    if (position[a] > position[b]) {
      a = idom[a];
    } else {
      b = idom[b];
    }
    assert(a != kEnd && b != kEnd);
  }
  return a;
}

}  // namespace

Result<DominatorList> immediate_dominators(const StableGraph& graph, NodeIndex root) {
  DominatorList out;
  if (!graph.is_live(root))
    return out;

  // Depth-first from the root: number the reached nodes on discovery (the root is 0); the
  // reverse of the finishing order is a topological order of them, unless an edge leads back
  // to a node still on the stack.
  NodeIndexMap number(graph.node_bound());
  IndexList reached{root};
  number.try_emplace(root, 0);
  std::vector<std::uint8_t> on_stack{1};
  IndexList order;
  struct Frame {
    NodeIndex local;
    EdgeIndex next;
  };
  std::vector<Frame> frames{{0, graph.first_edge(root, Direction::Outgoing)}};
  while (!frames.empty()) {
    interrupt::poll();
    Frame& top = frames.back();
    if (top.next == kEnd) {
      order.push_back(top.local);
      on_stack[top.local] = 0;
      frames.pop_back();
      continue;
    }
    const NodeIndex v = graph.edge_target(top.next);
    top.next = graph.next_edge(top.next, Direction::Outgoing);
    const auto local = static_cast<NodeIndex>(reached.size());
    if (number.try_emplace(v, local)) {
      reached.push_back(v);
      on_stack.push_back(1);
      frames.push_back({local, graph.first_edge(v, Direction::Outgoing)});  // invalidates `top`
    } else if (on_stack[number.find(v)]) {
      return TorvexError::cycle(kGraphHasCycle);
    }
  }
  std::reverse(order.begin(), order.end());
  const std::size_t count = reached.size();
  IndexList position(count, 0);
  for (std::size_t i = 0; i < count; ++i)
    position[order[i]] = static_cast<NodeIndex>(i);

  // One pass in order, folding each node into the candidate of each of its successors: every
  // predecessor of a node comes first, so its entry is final once the pass reaches it. The
  // nearest common dominator does not depend on the folding order. Going forward touches only
  // the edges of reached nodes, never the predecessors the root does not reach.
  IndexList idom(count, kEnd);
  idom[0] = 0;
  for (const NodeIndex u : order) {
    interrupt::poll();
    graph.for_each_successor(reached[u], [&](NodeIndex v) {
      NodeIndex& candidate = idom[number.find(v)];
      candidate = candidate == kEnd ? u : intersect(idom, position, candidate, u);
    });
  }

  out.reserve(count);
  for (std::size_t n = 0; n < count; ++n) {
    interrupt::poll();
    out.emplace_back(reached[n], reached[idom[n]]);
  }
  return out;
}

}  // namespace torvex::algorithms
