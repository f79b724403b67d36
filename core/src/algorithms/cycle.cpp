#include "algorithms/cycle.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

namespace torvex::algorithms {

namespace {

// Stamps the scratch for a new search; marks equal to the stamp mean "visited in this search".
void begin_search(const StableGraph& g, CycleScratch& s) {
  if (s.mark.size() < g.node_bound()) {
    s.mark.resize(g.node_bound(), 0);
    s.parent.resize(g.node_bound(), kEnd);
  }
  if (++s.stamp == 0) {  // wrapped: forget every old mark
    std::fill(s.mark.begin(), s.mark.end(), 0);
    s.stamp = 1;
  }
  s.queue.clear();
}

IndexList path_back(const CycleScratch& s, NodeIndex from, NodeIndex u, NodeIndex to) {
  IndexList path{from, u};
  for (NodeIndex c = u; c != to;) {
    c = s.parent[c];
    path.push_back(c);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

}  // namespace

std::optional<IndexList> would_create_cycle(const StableGraph& graph, NodeIndex from, NodeIndex to,
                                            CycleScratch* scratch) {
  if (from == to)
    return IndexList{from};
  CycleScratch local;
  CycleScratch& s = scratch ? *scratch : local;
  begin_search(graph, s);
  s.mark[to] = s.stamp;
  s.queue.push_back(to);
  for (std::size_t head = 0; head < s.queue.size(); ++head) {
    const NodeIndex u = s.queue[head];
    for (EdgeIndex e = graph.first_edge(u, Direction::Outgoing); e != kEnd;
         e = graph.next_edge(e, Direction::Outgoing)) {
      const NodeIndex v = graph.edge_target(e);
      if (v == from)
        return path_back(s, from, u, to);
      if (s.mark[v] != s.stamp) {
        s.mark[v] = s.stamp;
        s.parent[v] = u;
        s.queue.push_back(v);
      }
    }
  }
  return std::nullopt;
}

Components tarjan_scc(const StableGraph& graph) {
  constexpr std::uint32_t kUnseen = kEnd;
  const NodeIndex bound = graph.node_bound();
  std::vector<std::uint32_t> index(bound, kUnseen);
  std::vector<std::uint32_t> lowlink(bound, 0);
  std::vector<bool> on_stack(bound, false);  // discovered, component not yet emitted
  // Finished nodes that wait for their component's root, in finishing order: a component is
  // emitted in that order, root last (the reverse of discovery would differ).
  IndexList waiting;
  Components components;
  components.nodes.reserve(graph.node_count());
  components.starts.push_back(0);
  std::uint32_t counter = 0;

  struct Frame {
    NodeIndex node;
    EdgeIndex edge;  // next outgoing edge to look at
  };
  std::vector<Frame> frames;
  auto enter = [&](NodeIndex n) {
    index[n] = lowlink[n] = counter++;
    on_stack[n] = true;
    frames.push_back(Frame{n, graph.first_edge(n, Direction::Outgoing)});
  };

  for (NodeIndex s = 0; s < bound; ++s) {
    if (!graph.is_live(s) || index[s] != kUnseen)
      continue;
    enter(s);
    while (!frames.empty()) {
      Frame& top = frames.back();
      const NodeIndex n = top.node;
      if (top.edge != kEnd) {
        const NodeIndex w = graph.edge_target(top.edge);
        top.edge = graph.next_edge(top.edge, Direction::Outgoing);
        if (index[w] == kUnseen) {
          enter(w);  // invalidates `top`
        } else if (on_stack[w]) {
          lowlink[n] = std::min(lowlink[n], index[w]);
        }
        continue;
      }
      frames.pop_back();
      if (!frames.empty()) {
        const NodeIndex parent = frames.back().node;
        lowlink[parent] = std::min(lowlink[parent], lowlink[n]);
      }
      if (lowlink[n] != index[n]) {
        waiting.push_back(n);
        continue;
      }
      // n is a root: its component is n and every waiting node discovered after it.
      std::size_t start = waiting.size();
      while (start > 0 && index[waiting[start - 1]] > index[n])
        --start;
      for (std::size_t i = start; i < waiting.size(); ++i) {
        on_stack[waiting[i]] = false;
        components.nodes.push_back(waiting[i]);
      }
      waiting.resize(start);
      on_stack[n] = false;
      components.nodes.push_back(n);
      components.starts.push_back(components.nodes.size());
    }
  }
  return components;
}

}  // namespace torvex::algorithms

namespace torvex::algorithms {

Status validate_acyclic(const StableGraph& graph) {
  const Components components = tarjan_scc(graph);
  std::vector<IndexList> kept;
  for (std::size_t c = 0; c < components.count(); ++c) {
    const auto first = components.nodes.begin() + static_cast<std::ptrdiff_t>(components.starts[c]);
    const auto last =
        components.nodes.begin() + static_cast<std::ptrdiff_t>(components.starts[c + 1]);
    const bool self_loop = last - first == 1 && graph.find_edge(*first, *first) != kEnd;
    if (last - first >= 2 || self_loop)
      kept.emplace_back(first, last);
  }
  if (kept.empty())
    return {};
  std::string text = "Graph contains " + std::to_string(kept.size()) + " cycle(s): [";
  for (std::size_t c = 0; c < kept.size(); ++c) {
    if (c)
      text.append(", ");
    for (std::size_t i = 0; i < kept[c].size(); ++i) {
      if (i)
        text.append(" -> ");
      text.append(graph.name(kept[c][i]));
    }
  }
  text.append("]");
  return TorvexError::cycle(std::move(text));
}

}  // namespace torvex::algorithms
