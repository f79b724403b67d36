// The store under random sequences of changes and reads, against a plain model of it.
//
// Each input decodes into steps: add or remove nodes and edges (through the store's add_edge and
// through the binding's split path), take and resolve handles, read neighbours, payloads and the
// cached lists, clear the cache. The model keeps slots, vacant stacks, neighbour lists, epochs,
// the generation and which cache slots are filled; after every step the store must agree with it
// slot for slot, and every list it returns (the cached ones included) must equal the model's.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/cycle.hpp"
#include "algorithms/toposort.hpp"
#include "algorithms/transforms.hpp"
#include "fuzz_support.hpp"

namespace torvex::fuzz {
namespace {

using Dag = DAG<std::string>;

// Few names, so that steps collide; the empty name, a non-ASCII one, a line feed, and one long
// enough to live on the heap, where a dangling use shows.
constexpr std::string_view kNames[] = {
    "a", "b", "c", "d",  "e", "f",        "g",          "h",
    "i", "j", "k", "ab", "",  "\xC3\xA9", "line\nfeed", "a-name-long-enough-to-live-on-the-heap"};
constexpr std::size_t kNameCount = std::size(kNames);
constexpr double kWeights[] = {1.0,
                               0.0,
                               -0.0,
                               2.5,
                               -7.0,
                               1e300,
                               std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
constexpr std::string_view kLabels[] = {"", "x", "a label long enough to live on the heap"};
constexpr std::size_t kMaxSteps = 2000;
constexpr std::size_t kMaxHandles = 16;

enum Slot { kRoots, kLeaves, kKahn, kDfs, kLevels, kSlotCount };

struct ModelNode {
  bool live = false;
  std::string name;
  std::string payload;
  std::uint64_t epoch = 0;
  std::vector<EdgeIndex> out, in;  // newest edge first
};

struct ModelEdge {
  NodeIndex source = kEnd, target = kEnd;  // kEnd: vacant
  double weight = 1.0;
  std::optional<std::string> label;
};

// The store as plain vectors and maps, each rule written out directly.
struct Model {
  std::vector<ModelNode> nodes;
  std::vector<ModelEdge> edges;
  std::vector<NodeIndex> vacant_nodes;  // top = back
  std::vector<EdgeIndex> vacant_edges;
  std::map<std::string, NodeIndex, std::less<>> index;
  std::uint64_t next_epoch = 0;
  std::uint64_t generation = 0;
  std::size_t edge_count = 0;
  bool filled[kSlotCount] = {};
  std::uint64_t hits = 0, misses = 0;

  std::optional<NodeIndex> find(std::string_view name) const {
    auto it = index.find(name);
    if (it == index.end())
      return std::nullopt;
    return it->second;
  }

  void clear_cache() { std::fill(std::begin(filled), std::end(filled), false); }
  void bump() {
    ++generation;
    clear_cache();
  }
  // A read of a cached list: a hit when filled, else a miss that fills it.
  void read_slot(Slot slot) {
    ++(filled[slot] ? hits : misses);
    filled[slot] = true;
  }

  NodeIndex add_node(std::string name, std::string payload) {
    NodeIndex n = static_cast<NodeIndex>(nodes.size());
    if (!vacant_nodes.empty()) {
      n = vacant_nodes.back();
      vacant_nodes.pop_back();
    } else {
      nodes.emplace_back();
    }
    index.emplace(name, n);
    nodes[n] = ModelNode{true, std::move(name), std::move(payload), next_epoch++, {}, {}};
    bump();
    return n;
  }

  void add_edge(NodeIndex a, NodeIndex b, double weight, std::optional<std::string> label) {
    EdgeIndex e = static_cast<EdgeIndex>(edges.size());
    if (!vacant_edges.empty()) {
      e = vacant_edges.back();
      vacant_edges.pop_back();
    } else {
      edges.emplace_back();
    }
    edges[e] = ModelEdge{a, b, weight, std::move(label)};
    nodes[a].out.insert(nodes[a].out.begin(), e);
    nodes[b].in.insert(nodes[b].in.begin(), e);
    ++edge_count;
    bump();
  }

  void unlink(EdgeIndex e) {
    auto drop = [e](std::vector<EdgeIndex>& list) {
      list.erase(std::find(list.begin(), list.end(), e));
    };
    drop(nodes[edges[e].source].out);
    drop(nodes[edges[e].target].in);
    edges[e] = ModelEdge{};
    vacant_edges.push_back(e);
    --edge_count;
  }

  void remove_edge(EdgeIndex e) {
    unlink(e);
    bump();
  }

  void remove_node(NodeIndex n) {
    while (!nodes[n].out.empty())
      unlink(nodes[n].out.front());
    while (!nodes[n].in.empty())
      unlink(nodes[n].in.front());
    index.erase(nodes[n].name);
    nodes[n] = ModelNode{};
    vacant_nodes.push_back(n);
    bump();
  }

  EdgeIndex find_edge(NodeIndex a, NodeIndex b) const {
    for (EdgeIndex e : nodes[a].out) {
      if (edges[e].target == b)
        return e;
    }
    return kEnd;
  }

  IndexList successors(NodeIndex n) const {
    IndexList out;
    for (EdgeIndex e : nodes[n].out)
      out.push_back(edges[e].target);
    return out;
  }

  IndexList live() const {
    IndexList out;
    for (NodeIndex n = 0; n < nodes.size(); ++n) {
      if (nodes[n].live)
        out.push_back(n);
    }
    return out;
  }

  bool reaches(NodeIndex from, NodeIndex to) const {
    std::vector<bool> seen(nodes.size(), false);
    std::vector<NodeIndex> stack{from};
    while (!stack.empty()) {
      const NodeIndex u = stack.back();
      stack.pop_back();
      if (u == to)
        return true;
      for (NodeIndex v : successors(u)) {
        if (!seen[v])
          seen[v] = true, stack.push_back(v);
      }
    }
    return false;
  }

  // Breadth-first from `to`, newest edge first; the first edge into `from` ends the search.
  std::optional<IndexList> cycle_path(NodeIndex from, NodeIndex to) const {
    if (from == to)
      return IndexList{from};
    std::map<NodeIndex, NodeIndex> parent;
    std::vector<bool> seen(nodes.size(), false);
    std::vector<NodeIndex> queue{to};
    seen[to] = true;
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const NodeIndex u = queue[head];
      for (NodeIndex v : successors(u)) {
        if (v == from) {
          IndexList path{from, u};
          for (NodeIndex c = u; c != to && parent.count(c);)
            path.push_back(c = parent[c]);
          if (path.back() != to)
            path.push_back(to);
          std::reverse(path.begin(), path.end());
          return path;
        }
        if (!seen[v]) {
          seen[v] = true;
          parent[v] = u;
          queue.push_back(v);
        }
      }
    }
    return std::nullopt;
  }

  void sort_by_name(IndexList& list) const {
    std::stable_sort(list.begin(), list.end(),
                     [&](NodeIndex a, NodeIndex b) { return nodes[a].name < nodes[b].name; });
  }

  std::vector<std::size_t> in_degrees() const {
    std::vector<std::size_t> degree(nodes.size(), 0);
    for (const ModelEdge& e : edges) {
      if (e.source != kEnd)
        ++degree[e.target];
    }
    return degree;
  }

  // Sources by name into a queue; each node releases its successors in name order.
  IndexList kahn() const {
    std::vector<std::size_t> degree = in_degrees();
    IndexList queue;
    for (NodeIndex n : live()) {
      if (degree[n] == 0)
        queue.push_back(n);
    }
    sort_by_name(queue);
    for (std::size_t head = 0; head < queue.size(); ++head) {
      IndexList next = successors(queue[head]);
      sort_by_name(next);
      for (NodeIndex v : next) {
        if (--degree[v] == 0)
          queue.push_back(v);
      }
    }
    return queue;
  }

  // Reversed postorder of a search from every node in name order, children in name order.
  IndexList dfs() const {
    std::vector<bool> seen(nodes.size(), false);
    IndexList post;
    std::function<void(NodeIndex)> visit = [&](NodeIndex n) {
      seen[n] = true;
      IndexList children = successors(n);
      sort_by_name(children);
      for (NodeIndex c : children) {
        if (!seen[c])
          visit(c);
      }
      post.push_back(n);
    };
    IndexList starts = live();
    sort_by_name(starts);
    for (NodeIndex s : starts) {
      if (!seen[s])
        visit(s);
    }
    std::reverse(post.begin(), post.end());
    return post;
  }

  // Level k: the nodes whose longest path from a source has k edges, in name order.
  Levels levels() const {
    std::vector<std::size_t> depth(nodes.size(), 0);
    std::size_t deepest = 0;
    for (NodeIndex u : kahn()) {
      deepest = std::max(deepest, depth[u] + 1);
      for (NodeIndex v : successors(u))
        depth[v] = std::max(depth[v], depth[u] + 1);
    }
    Levels out(live().empty() ? 0 : deepest);
    for (NodeIndex n : live())
      out[depth[n]].push_back(n);
    for (IndexList& level : out)
      sort_by_name(level);
    return out;
  }

  // Topological orderings of the live nodes, counted over subsets; none for an empty graph.
  std::uint64_t ordering_count() const {
    const IndexList all = live();
    if (all.empty())
      return 0;
    std::vector<unsigned> before(all.size(), 0);  // bit i: node all[i] must come first
    for (std::size_t i = 0; i < all.size(); ++i) {
      for (EdgeIndex e : nodes[all[i]].in) {
        before[i] |= 1u << (std::find(all.begin(), all.end(), edges[e].source) - all.begin());
      }
    }
    std::vector<std::uint64_t> ways(std::size_t{1} << all.size(), 0);
    ways[0] = 1;
    for (unsigned done = 0; done < ways.size(); ++done) {
      for (std::size_t i = 0; i < all.size(); ++i) {
        if (!(done >> i & 1) && (before[i] & ~done) == 0)
          ways[done | 1u << i] += ways[done];
      }
    }
    return ways.back();
  }
};

// --- agreement of the store with the model
// --------------------------------------------------------

bool list_is(const StableGraph& g, NodeIndex n, Direction d, const std::vector<EdgeIndex>& want) {
  std::size_t i = 0;
  for (EdgeIndex e = g.first_edge(n, d); e != kEnd; e = g.next_edge(e, d)) {
    if (i == want.size() || want[i++] != e)
      return false;
  }
  return i == want.size();
}

void check_agrees(const Dag& dag, const Model& m) {
  check_store(dag);
  const StableGraph& g = dag.graph();
  check(g.node_bound() == m.nodes.size() && g.edge_bound() == m.edges.size(),
        "slot arrays differ from the model");
  check(g.node_count() == m.index.size() && g.edge_count() == m.edge_count, "counts differ");
  for (NodeIndex n = 0; n < m.nodes.size(); ++n) {
    const ModelNode& want = m.nodes[n];
    check(g.is_live(n) == want.live, "node slot liveness differs (slot reuse order?)");
    if (!want.live)
      continue;
    check(g.name(n) == want.name, "node slot holds another name");
    check(dag.epoch(n) == want.epoch, "epoch differs", want.name);
    check(dag.payload(n) == want.payload, "payload differs", want.name);
    check(list_is(g, n, Direction::Outgoing, want.out), "outgoing list differs", want.name);
    check(list_is(g, n, Direction::Incoming, want.in), "incoming list differs", want.name);
  }
  for (EdgeIndex e = 0; e < m.edges.size(); ++e) {
    const ModelEdge& want = m.edges[e];
    check(g.is_edge_live(e) == (want.source != kEnd), "edge slot liveness differs");
    if (want.source == kEnd)
      continue;
    check(g.edge_source(e) == want.source && g.edge_target(e) == want.target, "edge ends differ");
    check(same_bits(g.edge_weight(e), want.weight), "edge weight changed");
    const std::string* label = g.edge_label(e);
    check(static_cast<bool>(label) == want.label.has_value() && (!label || *label == *want.label),
          "edge label differs");
  }
  for (std::string_view name : kNames) {
    check(dag.find(name) == m.find(name), "name lookup differs", name);
  }
  check(dag.generation() == m.generation, "generation differs from the changes made");
  check(dag.next_epoch() == m.next_epoch, "next epoch differs");
  check(dag.cache_hits() == m.hits && dag.cache_misses() == m.misses, "cache counters differ");
  check(dag.cache_size() ==
            static_cast<std::size_t>(std::count(std::begin(m.filled), std::end(m.filled), true)),
        "cache size differs");
}

void check_error(const TorvexError& got, const TorvexError& want, std::string_view step) {
  check(got == want, step, "expected " + want.display() + ", got " + got.display());
}

template <class T>
void check_fails(const Result<T>& got, const TorvexError& want, std::string_view step) {
  check(!got.ok(), step, "succeeded, expected " + want.display());
  check_error(got.error(), want, step);
}

// --- the steps
// ------------------------------------------------------------------------------------

class Run {
 public:
  explicit Run(ByteReader& in) : in_(in) {}

  void step() {
    switch (in_.pick(16)) {
      case 0:
      case 1:
        add_node();
        break;
      case 2:
      case 3:
      case 4:
        add_edge(/*split=*/false);
        break;
      case 5:
        add_edge(/*split=*/true);
        break;
      case 6:
        remove_edge();
        break;
      case 7:
        remove_node();
        break;
      case 8:
      case 9:
        read_cached(static_cast<Slot>(in_.pick(kSlotCount)));
        break;
      case 10:
        dag_.clear_cache(), model_.clear_cache();
        break;
      case 11:
        take_handle();
        break;
      case 12:
        resolve_handle();
        break;
      case 13:
        read_neighbours();
        break;
      case 14:
        payloads();
        break;
      default:
        (in_.byte() & 1) ? transforms() : orderings();
        break;
    }
    check_agrees(dag_, model_);
  }

 private:
  std::string_view name() { return kNames[in_.pick(kNameCount)]; }

  void add_node() {
    const std::string_view n = name();
    std::string payload = "payload of " + std::string(n) + " #" + std::to_string(++counter_);
    auto added = dag_.add_node(std::string(n), payload);
    if (auto slot = model_.find(n)) {
      check_fails(added, TorvexError::duplicate_node(std::string(n)), "add_node of a present name");
      return;
    }
    check(added.ok(), "add_node failed", n);
    check(added->name == n && added->epoch == model_.next_epoch, "add_node handle");
    keep(*added);
    model_.add_node(std::string(n), std::move(payload));
  }

  // Through the store's add_edge, or as the binding does it: resolve, cycle test, insert.
  void add_edge(bool split) {
    const std::string_view a = name(), b = name();
    const std::uint8_t options = in_.byte();
    std::optional<double> weight;
    if (options & 1)
      weight = kWeights[(options >> 1) % std::size(kWeights)];
    std::optional<std::string> label;
    if (options & 0x10)
      label = std::string(kLabels[(options >> 5) % std::size(kLabels)]);

    auto ia = model_.find(a), ib = model_.find(b);
    std::optional<TorvexError> expected;
    std::optional<IndexList> path;
    if (!ia) {
      expected = TorvexError::node_not_found(std::string(a));
    } else if (!ib) {
      expected = TorvexError::node_not_found(std::string(b));
    } else if ((path = model_.cycle_path(*ia, *ib))) {
      std::string text =
          "Edge " + std::string(a) + " -> " + std::string(b) + " would create a cycle: ";
      for (std::size_t i = 0; i < path->size(); ++i) {
        text += (i ? " -> " : "") + model_.nodes[(*path)[i]].name;
      }
      expected = TorvexError::cycle(std::move(text));
    }

    if (split) {
      if (!ia || !ib)
        return;  // resolution is the store's resolve_name, read elsewhere
      const Status added = dag_.add_edge(*ia, *ib, weight, label);
      if (expected)
        return check_fails(added, *expected, "add_edge by index");
      check(added.ok(), "add_edge by index failed", added.ok() ? "" : added.error().display());
    } else {
      const Status added = dag_.add_edge(a, b, weight, label);
      if (expected)
        return check_fails(added, *expected, "add_edge");
      check(added.ok(), "add_edge failed", added.ok() ? "" : added.error().display());
    }
    model_.add_edge(*ia, *ib, weight.value_or(1.0), std::move(label));
  }

  void remove_edge() {
    const std::string_view a = name(), b = name();
    const Status removed = dag_.remove_edge(a, b);
    auto ia = model_.find(a), ib = model_.find(b);
    if (!ia)
      return check_fails(removed, TorvexError::node_not_found(std::string(a)), "remove_edge");
    if (!ib)
      return check_fails(removed, TorvexError::node_not_found(std::string(b)), "remove_edge");
    const EdgeIndex e = model_.find_edge(*ia, *ib);
    if (e == kEnd) {
      return check_fails(removed, TorvexError::edge_not_found(std::string(a), std::string(b)),
                         "remove_edge");
    }
    check(removed.ok(), "remove_edge failed");
    model_.remove_edge(e);
  }

  void remove_node() {
    const std::string_view n = name();
    const Status removed = dag_.remove_node(n);
    auto slot = model_.find(n);
    if (!slot)
      return check_fails(removed, TorvexError::node_not_found(std::string(n)), "remove_node");
    check(removed.ok(), "remove_node failed");
    model_.remove_node(*slot);
  }

  // A cached list equals the model's own computation, and the fresh one, whether it was a hit.
  void read_cached(Slot slot) {
    const StableGraph& g = dag_.graph();
    switch (slot) {
      case kRoots:
      case kLeaves: {
        const IndexList got = *(slot == kRoots ? dag_.roots() : dag_.leaves());
        IndexList want;
        for (NodeIndex n : model_.live()) {
          if ((slot == kRoots ? model_.nodes[n].in : model_.nodes[n].out).empty())
            want.push_back(n);
        }
        check(got == want, slot == kRoots ? "roots differ" : "leaves differ");
        break;
      }
      case kKahn:
      case kDfs: {
        auto got = slot == kKahn ? dag_.topological_sort() : dag_.topological_sort_dfs();
        auto fresh = slot == kKahn ? algorithms::topological_sort_kahn(g)
                                   : algorithms::topological_sort_dfs(g);
        check(got.ok() && fresh.ok(), "an order failed on an acyclic graph");
        check(**got == *fresh, "cached order differs from a fresh one");
        check(*fresh == (slot == kKahn ? model_.kahn() : model_.dfs()),
              slot == kKahn ? "Kahn order differs from the model's" : "DFS order differs");
        check_topo_order(g, *fresh, "topological order");
        break;
      }
      default: {
        auto got = dag_.topological_levels();
        auto fresh = algorithms::topological_levels(g);
        check(got.ok() && fresh.ok(), "levels failed on an acyclic graph");
        check(**got == *fresh, "cached levels differ from fresh ones");
        check(*fresh == model_.levels(), "levels differ from longest-path depths");
        break;
      }
    }
    model_.read_slot(slot);
  }

  void keep(NodeHandle handle) {
    if (handles_.size() == kMaxHandles)
      handles_.erase(handles_.begin());
    handles_.push_back(std::move(handle));
  }

  void take_handle() {
    const std::string_view n = name();
    auto handle = dag_.node_ref(n);
    auto slot = model_.find(n);
    check(handle.has_value() == slot.has_value(), "node_ref presence differs", n);
    if (!handle)
      return;
    check(handle->name == n && handle->epoch == model_.nodes[*slot].epoch, "node_ref epoch");
    keep(*handle);
  }

  void resolve_handle() {
    if (handles_.empty())
      return;
    const NodeHandle& handle = handles_[in_.pick(handles_.size())];
    auto got = dag_.resolve_ref(handle);
    auto slot = model_.find(handle.name);
    if (!slot)
      return check_fails(got, TorvexError::node_not_found(handle.name), "resolve_ref");
    if (model_.nodes[*slot].epoch != handle.epoch) {
      return check_fails(got, TorvexError::stale_node_ref(handle.name), "resolve_ref");
    }
    check(got.ok() && *got == *slot, "resolve_ref gives another slot");
  }

  void read_neighbours() {
    const std::string_view a = name(), b = name();
    auto ia = model_.find(a), ib = model_.find(b);
    const TorvexError missing_a = TorvexError::node_not_found(std::string(a));
    switch (in_.pick(5)) {
      case 0: {
        auto got = dag_.successors(a);
        if (!ia)
          return check_fails(got, missing_a, "successors");
        check(*got == model_.successors(*ia), "successors differ");
        break;
      }
      case 1: {
        auto got = dag_.predecessors(a);
        if (!ia)
          return check_fails(got, missing_a, "predecessors");
        IndexList want;
        for (EdgeIndex e : model_.nodes[*ia].in)
          want.push_back(model_.edges[e].source);
        check(*got == want, "predecessors differ");
        break;
      }
      case 2: {
        auto out = dag_.out_degree(a);
        auto in = dag_.in_degree(a);
        if (!ia)
          return check_fails(out, missing_a, "out_degree");
        check(*out == model_.nodes[*ia].out.size() && *in == model_.nodes[*ia].in.size(),
              "degrees differ");
        break;
      }
      case 3: {
        auto got = dag_.has_edge(a, b);
        if (!ia)
          return check_fails(got, missing_a, "has_edge");
        if (!ib)
          return check_fails(got, TorvexError::node_not_found(std::string(b)), "has_edge");
        check(*got == (model_.find_edge(*ia, *ib) != kEnd), "has_edge differs");
        break;
      }
      default: {
        auto got = dag_.is_ancestor(a, b);
        if (!ia)
          return check_fails(got, missing_a, "is_ancestor");
        if (!ib)
          return check_fails(got, TorvexError::node_not_found(std::string(b)), "is_ancestor");
        check(*got == model_.reaches(*ia, *ib), "is_ancestor differs");
        // The cycle test alone, without the store's incremental order.
        check(algorithms::would_create_cycle(dag_.graph(), *ib, *ia) == model_.cycle_path(*ib, *ia),
              "would_create_cycle differs from the breadth-first path");
        break;
      }
    }
  }

  // Payload reads and writes never touch the generation or the cache.
  void payloads() {
    const std::string_view n = name();
    auto slot = model_.find(n);
    auto got = dag_.get_payload_mut(n);
    if (!slot)
      return check_fails(got, TorvexError::node_not_found(std::string(n)), "get_payload");
    check(**got == model_.nodes[*slot].payload, "payload differs");
    if (in_.byte() & 1) {
      **got = "replaced payload #" + std::to_string(++counter_);
      model_.nodes[*slot].payload = **got;
    }
    check(dag_.validate().ok(), "validate refuses an acyclic graph");
  }

  // All orderings on small graphs: as many as there are, valid, distinct, in name order.
  void orderings() {
    const std::size_t limit = in_.pick(4);
    if (model_.index.size() > 5)
      return;
    const StableGraph& g = dag_.graph();
    auto all = dag_.all_topological_orderings(std::nullopt);
    check(all.ok() && all->size() == model_.ordering_count(), "number of orderings differs");
    auto by_name = [&](NodeIndex a, NodeIndex b) { return g.name(a) < g.name(b); };
    for (std::size_t i = 0; i < all->size(); ++i) {
      check_topo_order(g, (*all)[i], "an ordering");
      check(i == 0 || std::lexicographical_compare((*all)[i - 1].begin(), (*all)[i - 1].end(),
                                                   (*all)[i].begin(), (*all)[i].end(), by_name),
            "orderings out of name order");
    }
    auto some = dag_.all_topological_orderings(limit);
    check(some.ok() && some->size() == std::min(limit, all->size()) &&
              std::equal(some->begin(), some->end(), all->begin()),
          "a limit does not give the first orderings");
  }

  // The closure's new edges are the reachable pairs without an edge; the reduction drops the
  // edges that a longer path repeats.
  void transforms() {
    const StableGraph& g = dag_.graph();
    const IndexList live = model_.live();
    std::vector<std::vector<bool>> reaches(g.node_bound(), std::vector<bool>(g.node_bound()));
    for (NodeIndex u : live) {
      for (NodeIndex w : live)
        reaches[u][w] = model_.reaches(u, w);
    }
    std::set<algorithms::NodePair> want_new, want_redundant;
    for (NodeIndex u : live) {
      const IndexList next = model_.successors(u);
      for (NodeIndex w : live) {
        const bool edge = std::find(next.begin(), next.end(), w) != next.end();
        if (!edge && w != u && reaches[u][w])
          want_new.emplace(u, w);
        if (edge && std::any_of(next.begin(), next.end(),
                                [&](NodeIndex x) { return x != w && reaches[x][w]; })) {
          want_redundant.emplace(u, w);
        }
      }
    }
    const std::vector<algorithms::NodePair> added = algorithms::transitive_closure_new_edges(g);
    check(std::set<algorithms::NodePair>(added.begin(), added.end()) == want_new &&
              added.size() == want_new.size(),
          "closure edges differ from the reachable pairs");
    check(std::is_sorted(added.begin(), added.end(),
                         [](auto& a, auto& b) { return a.first < b.first; }),
          "closure edges not grouped by source slot");
    const std::vector<algorithms::NodePair> redundant =
        algorithms::transitive_reduction_redundant_edges(g).sorted();
    check(std::set<algorithms::NodePair>(redundant.begin(), redundant.end()) == want_redundant &&
              redundant.size() == want_redundant.size(),
          "reduction drops other edges");
  }

  ByteReader& in_;
  Dag dag_;
  Model model_;
  std::vector<NodeHandle> handles_;
  std::uint64_t counter_ = 0;
};

}  // namespace
}  // namespace torvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  torvex::fuzz::ByteReader in(data, size);
  torvex::fuzz::Run run(in);
  for (std::size_t i = 0; i < torvex::fuzz::kMaxSteps && !in.done(); ++i)
    run.step();
  return 0;
}
