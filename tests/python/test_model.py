"""Random operation sequences checked step by step against a plain-Python model of the store.

The model is written from the documented behaviour, not from the implementation: slot stacks
(most recently freed first), newest-first neighbour lists, epochs and handles, the generation
counter, the derived-result cache with its counters, and the exact error classes and texts.
After every step each observable of the graph must equal the model's; topological orders, whose
ties the core suite proves, must be orders of the modelled edges.

TORVEX_MODEL_EXAMPLES raises the number of runs for a longer local soak.
"""

import gc
import json
import math
import os
import sys
from collections import deque

import pytest
from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from torvex import (DAG, CycleError, DuplicateNodeError, EdgeNotFoundError, GraphError, NodeId,
                    NodeNotFoundError, NodeRef, StaleNodeRefError)

NODE_FORM = ("Each node must be a string name, (name, payload) tuple, "
             "or (name, payload, metadata) tuple")
EDGE_FORM = ("Each edge must be a (from, to), (from, to, weight), or (from, to, weight, label) "
             "tuple. `from` and `to` may be a str or NodeRef.")
NOT_A_NODE = "argument 'node': expected str or NodeRef for node identifier"

# Few names, so duplicates, re-adds, stale handles and cycles come up often; non-ASCII and
# empty names among them.
NAMES = ["a", "b", "B", "ab", "abc", "", "é", "z"]
SLOTS = ("roots", "leaves", "kahn", "dfs", "levels")
CACHED_READS = {  # method -> (cache slot, whether it returns an iterator)
    "roots": ("roots", False), "iter_roots": ("roots", True),
    "leaves": ("leaves", False), "iter_leaves": ("leaves", True),
    "topological_sort": ("kahn", False), "iter_topological_sort": ("kahn", True),
    "topological_sort_dfs": ("dfs", False),
    "topological_levels": ("levels", False), "iter_topological_levels": ("levels", True),
}


class Payload:
    """A payload whose identity and reference count the test follows."""


# A node without payload or metadata. Reads give None for it, but a stored None object is a
# payload all the same: a serializer is called for it.
ABSENT = object()


def read(value):
    return None if value is ABSENT else value


def stored(value):
    """What add_node and the setters keep: None means no payload at all."""
    return ABSENT if value is None else value


class Node:
    def __init__(self, name, payload, metadata):
        self.name, self.payload, self.metadata = name, payload, metadata
        self.out, self.inc = [], []  # edge slots, newest first


class Edge:
    def __init__(self, source, target, weight, label):
        self.source, self.target, self.weight, self.label = source, target, weight, label


class Model:
    """The store as documented, kept in plain lists and dicts."""

    def __init__(self):
        self.nodes, self.edges = [], []  # slots: Node / Edge or None when vacant
        self.free_nodes, self.free_edges = [], []  # stacks, top at the end
        self.index, self.epochs = {}, {}
        self.next_epoch = self.generation = 0
        self.cache = dict.fromkeys(SLOTS, False)
        self.hits = self.misses = 0

    # -- store --------------------------------------------------------------------------------
    def bump(self):
        self.generation += 1
        self.cache = dict.fromkeys(SLOTS, False)

    def live(self):
        return [i for i, n in enumerate(self.nodes) if n is not None]

    def into_name(self, arg):
        if isinstance(arg, NodeRef):
            if arg.name not in self.epochs:
                raise NodeNotFoundError(arg.name)
            if self.epochs[arg.name] != arg.epoch:
                raise StaleNodeRefError(arg.name)
            return arg.name
        return arg

    def resolve(self, name):
        if name not in self.index:
            raise NodeNotFoundError(name)
        return self.index[name]

    def add_node(self, name, payload=ABSENT, metadata=ABSENT):
        if name in self.index:
            raise DuplicateNodeError(name)
        node = Node(name, payload, metadata)
        if self.free_nodes:
            slot = self.free_nodes.pop()
            self.nodes[slot] = node
        else:
            slot = len(self.nodes)
            self.nodes.append(node)
        self.index[name], self.epochs[name] = slot, self.next_epoch
        self.next_epoch += 1
        self.bump()
        return name, self.epochs[name]

    def cycle_path(self, source, target):
        if source == target:
            return [source]
        seen, parent, queue = {target}, {}, deque([target])
        while queue:
            u = queue.popleft()
            for e in self.nodes[u].out:
                v = self.edges[e].target
                if v == source:
                    path, c = [source, u], u
                    while c != target and c in parent:
                        c = parent[c]
                        path.append(c)
                    if path[-1] != target:
                        path.append(target)
                    return path[::-1]
                if v not in seen:
                    seen.add(v)
                    parent[v] = u
                    queue.append(v)
        return None

    def add_edge(self, a, b, weight=None, label=None):
        a, b = self.into_name(a), self.into_name(b)
        source, target = self.resolve(a), self.resolve(b)
        path = self.cycle_path(source, target)
        if path is not None:
            joined = " -> ".join(self.nodes[i].name for i in path)
            raise CycleError(f"Edge {a} -> {b} would create a cycle: {joined}")
        edge = Edge(source, target, 1.0 if weight is None else float(weight), label)
        if self.free_edges:
            slot = self.free_edges.pop()
            self.edges[slot] = edge
        else:
            slot = len(self.edges)
            self.edges.append(edge)
        self.nodes[source].out.insert(0, slot)
        self.nodes[target].inc.insert(0, slot)
        self.bump()

    def unlink(self, slot):
        edge = self.edges[slot]
        self.nodes[edge.source].out.remove(slot)
        self.nodes[edge.target].inc.remove(slot)
        self.edges[slot] = None
        self.free_edges.append(slot)

    def remove_edge(self, a, b):
        a, b = self.into_name(a), self.into_name(b)
        source, target = self.resolve(a), self.resolve(b)
        for slot in self.nodes[source].out:
            if self.edges[slot].target == target:
                self.unlink(slot)
                self.bump()
                return
        raise EdgeNotFoundError(f"{a} -> {b}")

    def remove_node(self, arg):
        slot = self.resolve(self.into_name(arg))
        node = self.nodes[slot]
        for e in list(node.out) + list(node.inc):
            self.unlink(e)
        self.nodes[slot] = None
        self.free_nodes.append(slot)
        del self.index[node.name], self.epochs[node.name]
        self.bump()

    def node(self, arg):
        return self.nodes[self.resolve(self.into_name(arg))]

    # -- reads --------------------------------------------------------------------------------
    def ids(self, slots):
        return [(self.nodes[i].name, i) for i in slots]

    def successors(self, i):
        return [self.edges[e].target for e in self.nodes[i].out]

    def predecessors(self, i):
        return [self.edges[e].source for e in self.nodes[i].inc]

    def bfs(self, start, step):
        seen, queue, out = {start}, deque([start]), []
        while queue:
            u = queue.popleft()
            if u != start:
                out.append(u)
            for v in step(u):
                if v not in seen:
                    seen.add(v)
                    queue.append(v)
        return out

    def cached(self, slot):
        """The documented cache walk for one read; returns the list of roots or leaves, None
        for an order (whose ties the core suite proves)."""
        if self.cache[slot]:
            self.hits += 1
        else:
            self.misses += 1
            self.cache[slot] = True
        live = self.live()
        if slot == "roots":
            return self.ids(i for i in live if not self.nodes[i].inc)
        if slot == "leaves":
            return self.ids(i for i in live if not self.nodes[i].out)
        return None


def ids(node_ids):
    assert all(type(n) is NodeId for n in node_ids)
    return [(n.name, n.index) for n in node_ids]


def outcome(call):
    """("ok", result) or (exception class, text): what a call did, for comparing two sides."""
    try:
        return "ok", call()
    except Exception as e:  # compared class and text, both sides
        return type(e), str(e)


def agree(real, modelled):
    """Runs both calls; they must fail alike, or both succeed. Returns the real result."""
    got, want = outcome(real), outcome(modelled)
    assert got[0] == want[0], (got, want)
    if got[0] != "ok":
        assert got[1] == want[1]
    return got[1]


# Node arguments: a name from the pool, or an int choosing one of the handles seen so far.
node_args = st.one_of(st.sampled_from(NAMES), st.integers(0, 63))
# Payload choices: an index into the machine's own objects, or None.
payload_choices = st.one_of(st.none(), st.integers(0, 3))
weights = st.one_of(st.none(), st.integers(-3, 3), st.floats(width=64))
labels = st.one_of(st.none(), st.sampled_from(["", "x", "λ"]))
node_items = st.one_of(
    st.sampled_from(NAMES).map(lambda n: ("name", n)),
    st.tuples(st.just("pair"), st.sampled_from(NAMES), payload_choices),
    st.tuples(st.just("triple"), st.sampled_from(NAMES), payload_choices, payload_choices),
    st.sampled_from([["a", 1], ("a",), (1, 2), 5, ("a", 1, 2, 3)]).map(lambda b: ("bad", b)),
)
edge_items = st.one_of(
    st.tuples(st.just(2), node_args, node_args),
    st.tuples(st.just(3), node_args, node_args, st.floats(width=64)),
    st.tuples(st.just(4), node_args, node_args, st.floats(width=64), st.sampled_from(["", "l"])),
    st.sampled_from([("a",), ("a", "b", None), ("a", "b", 1.0, None), ["a", "b"],
                     (1, "a"), ("a", "b", 1.0, "l", 0)]).map(lambda b: ("bad", b)),
)


class DagMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.dag, self.model = DAG(), Model()
        self.objects = [Payload() for _ in range(4)]
        self.handles = []
        self.clear_after_check = False

    # -- argument helpers ---------------------------------------------------------------------
    def arg(self, choice):
        if isinstance(choice, str):
            return choice
        if not self.handles:
            return NAMES[choice % len(NAMES)]
        return self.handles[choice % len(self.handles)]

    def obj(self, choice):
        return None if choice is None else self.objects[choice]

    def keep(self, refs, expected):
        for ref, (name, epoch) in zip(refs, expected):
            assert type(ref) is NodeRef and (ref.name, ref.epoch) == (name, epoch)
            self.handles.append(ref)

    # -- construction -------------------------------------------------------------------------
    @initialize()
    def start_empty(self):
        assert self.dag.generation == 0 and len(self.dag) == 0 and not self.dag

    @rule(name=st.sampled_from(NAMES), payload=payload_choices, metadata=payload_choices)
    def add_node(self, name, payload, metadata):
        p, m = self.obj(payload), self.obj(metadata)
        ref = agree(lambda: self.dag.add_node(name, p, m),
                    lambda: self.model.add_node(name, stored(p), stored(m)))
        if isinstance(ref, NodeRef):
            self.keep([ref], [(name, self.model.epochs[name])])

    @rule(items=st.lists(node_items, max_size=4))
    def add_nodes(self, items):
        real = []
        for kind, *rest in items:
            if kind == "name":
                real.append(rest[0])
            elif kind == "pair":
                real.append((rest[0], self.obj(rest[1])))
            elif kind == "triple":
                real.append((rest[0], self.obj(rest[1]), self.obj(rest[2])))
            else:
                real.append(rest[0])

        def modelled():
            made = []
            for item in real:
                if isinstance(item, str):
                    made.append(self.model.add_node(item))
                elif (type(item) is tuple and len(item) in (2, 3)
                      and isinstance(item[0], str)):
                    # Tuple items store what they are given, None included.
                    made.append(self.model.add_node(*item))
                else:
                    raise TypeError(NODE_FORM)
            return made

        refs = agree(lambda: self.dag.add_nodes(real), modelled)
        if isinstance(refs, list):
            self.keep(refs, [(r, self.model.epochs[r]) for r in
                             [item if isinstance(item, str) else item[0] for item in real]])

    @rule(a=node_args, b=node_args, weight=weights, label=labels)
    def add_edge(self, a, b, weight, label):
        a, b = self.arg(a), self.arg(b)
        agree(lambda: self.dag.add_edge(a, b, weight, label),
              lambda: self.model.add_edge(a, b, weight, label))

    @rule(items=st.lists(edge_items, max_size=4))
    def add_edges(self, items):
        real = [item[1] if item[0] == "bad" else
                (self.arg(item[1]), self.arg(item[2])) + tuple(item[3:]) for item in items]

        def modelled():
            for item in real:
                if (type(item) is not tuple or not 2 <= len(item) <= 4
                        or not all(isinstance(x, (str, NodeRef)) for x in item[:2])
                        or (len(item) >= 3 and item[2] is None)
                        or (len(item) == 4 and not isinstance(item[3], str))):
                    raise TypeError(EDGE_FORM)
                self.model.add_edge(*item)

        agree(lambda: self.dag.add_edges(real), modelled)

    @rule(a=node_args)
    def remove_node(self, a):
        a = self.arg(a)
        agree(lambda: self.dag.remove_node(a), lambda: self.model.remove_node(a))

    @rule(a=node_args, b=node_args)
    def remove_edge(self, a, b):
        a, b = self.arg(a), self.arg(b)
        agree(lambda: self.dag.remove_edge(a, b), lambda: self.model.remove_edge(a, b))

    @rule(k=st.integers(0, 63), by_handle=st.booleans())
    def remove_existing_edge(self, k, by_handle):
        """Random pairs seldom name an edge that exists; this picks one that does."""
        edges = [e for e in self.model.edges if e is not None]
        if edges:
            edge = edges[k % len(edges)]
            a, b = self.model.nodes[edge.source].name, self.model.nodes[edge.target].name
            if by_handle:
                a, b = self.dag.node_ref(a), self.dag.node_ref(b)
            agree(lambda: self.dag.remove_edge(a, b), lambda: self.model.remove_edge(a, b))

    @rule(name=st.sampled_from(NAMES))
    def node_ref(self, name):
        ref = self.dag.node_ref(name)
        if name in self.model.epochs:
            self.keep([ref], [(name, self.model.epochs[name])])
        else:
            assert ref is None

    # -- payloads -----------------------------------------------------------------------------
    @rule(a=node_args, payload=payload_choices, which=st.sampled_from(["payload", "metadata"]))
    def set_payload(self, a, payload, which):
        a, p = self.arg(a), self.obj(payload)

        def modelled():
            setattr(self.model.node(a), which, stored(p))

        agree(lambda: getattr(self.dag, "set_" + which)(a, p), modelled)

    @rule(a=node_args, payload=payload_choices)
    def set_item(self, a, payload):
        a, p = self.arg(a), self.obj(payload)

        def modelled():
            if not isinstance(a, str):
                raise TypeError(f"argument 'name': '{type(a).__name__}' object cannot be "
                                "converted to 'PyString'")
            self.model.node(a).payload = p  # None included

        def real():
            self.dag[a] = p

        agree(real, modelled)

    @rule(a=node_args)
    def read_payload(self, a):
        a = self.arg(a)
        node = outcome(lambda: self.model.node(a))
        for getter, field in ((self.dag.get_payload, "payload"),
                              (self.dag.get_metadata, "metadata")):
            got = outcome(lambda: getter(a))
            if node[0] == "ok":
                assert got[0] == "ok" and got[1] is read(getattr(node[1], field))
            else:
                assert got == node

    # -- reads that count in the cache ------------------------------------------------------
    @rule(method=st.sampled_from(sorted(CACHED_READS)))
    def cached_read(self, method):
        self.check_read(method)
        self.check_cache()

    def check_read(self, method):
        slot, iterator = CACHED_READS[method]
        result = getattr(self.dag, method)()
        if iterator:
            length, result = len(result), list(result)
            assert length == len(result)
        got = ids([n for level in result for n in level] if slot == "levels" else result)
        want, model = self.model.cached(slot), self.model
        if want is not None:
            assert got == want
            return
        # Every live node once, and every edge pointing forward.
        assert sorted(got) == sorted(model.ids(model.live()))
        where = {index: k for k, (_, index) in enumerate(got)}
        assert all(where[e.source] < where[e.target] for e in model.edges if e is not None)

    @rule()
    def clear_cache(self):
        assert self.dag.clear_cache() is None
        self.model.cache = dict.fromkeys(SLOTS, False)
        self.check_cache()

    @rule(clear=st.booleans())
    def check_mode(self, clear):
        """Whether each check ends by emptying the cache, so later reads also see misses."""
        self.clear_after_check = clear

    # -- the check after every step -----------------------------------------------------------
    def check_cache(self):
        size = sum(self.model.cache.values())
        assert self.dag.cache_info() == {"hits": self.model.hits, "misses": self.model.misses,
                                         "size": size}

    def check_document(self, edge_slots):
        """The serializer sees exactly the stored payloads, a stored None among them; a weight
        JSON cannot hold refuses the whole document."""
        model = self.model
        serializer = lambda p: "None" if p is None else self.objects.index(p)  # noqa: E731
        if not all(math.isfinite(e.weight) for e in edge_slots):
            with pytest.raises(GraphError, match="which JSON cannot represent$"):
                self.dag.to_json(serializer)
            return
        document = json.loads(self.dag.to_json(serializer))
        assert document["nodes"] == [
            {"name": n.name} if n.payload is ABSENT else
            {"name": n.name, "payload": "None" if n.payload is None
             else self.objects.index(n.payload)} for n in model.nodes if n is not None]
        assert [(e["from"], e["to"], e["weight"], e.get("label")) for e in document["edges"]] \
            == [(model.nodes[e.source].name, model.nodes[e.target].name, e.weight, e.label)
                for e in edge_slots]

    @invariant()
    def everything_agrees(self):
        dag, model = self.dag, self.model
        live = model.live()
        assert dag.generation == model.generation
        self.check_cache()
        assert len(dag) == dag.node_count() == len(live) and bool(dag) == bool(live)
        edge_slots = [e for e in model.edges if e is not None]
        assert dag.edge_count() == len(edge_slots)
        assert repr(dag) == f"DAG(nodes={len(live)}, edges={len(edge_slots)})"
        assert ids(dag.nodes()) == model.ids(live)
        assert dag.node_names() == list(dag) == [model.nodes[i].name for i in live]
        assert dag.edges() == [(model.nodes[e.source].name, model.nodes[e.target].name)
                               for e in edge_slots]
        for name in NAMES:
            present = name in model.index
            assert dag.has_node(name) is present and (name in dag) is present
            ref = dag.node_ref(name)
            assert (ref.epoch if present else ref) == model.epochs.get(name)
        for ref in self.handles:
            assert dag.has_node(ref) is (model.epochs.get(ref.name) == ref.epoch)
        for i in live:
            node = model.nodes[i]
            assert ids(dag.successors(node.name)) == model.ids(model.successors(i))
            assert ids(dag.predecessors(node.name)) == model.ids(model.predecessors(i))
            assert dag.out_degree(node.name) == len(node.out)
            assert dag.in_degree(node.name) == len(node.inc)
            assert ids(dag.descendants(node.name)) == model.ids(model.bfs(i, model.successors))
            assert ids(dag.ancestors(node.name)) == model.ids(model.bfs(i, model.predecessors))
            assert dag.get_payload(node.name) is read(node.payload) is dag[node.name]
            assert dag.get_metadata(node.name) is read(node.metadata)
        # Each cached list as a whole; the counters must follow the documented walk.
        for method in ("roots", "leaves", "topological_sort", "topological_sort_dfs",
                       "topological_levels"):
            self.check_read(method)
        self.check_cache()
        self.check_document(edge_slots)
        assert dag.validate() is True
        assert dag.generation == model.generation  # reads never change it
        if self.clear_after_check:
            dag.clear_cache()
            model.cache = dict.fromkeys(SLOTS, False)

    def teardown(self):
        # Dropping the graph gives back exactly the references its nodes held. Measured as a
        # difference, so frames kept alive by a failure elsewhere do not count.
        held = [sum((n.payload is o) + (n.metadata is o) for n in self.model.nodes if n)
                for o in self.objects]
        gc.collect()
        before = [sys.getrefcount(o) for o in self.objects]
        self.dag = None
        gc.collect()
        after = [sys.getrefcount(o) for o in self.objects]
        assert [b - a for b, a in zip(before, after)] == held


DagMachine.TestCase.settings = settings(
    max_examples=int(os.environ.get("TORVEX_MODEL_EXAMPLES", "40")),
    stateful_step_count=25,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)
TestDagModel = DagMachine.TestCase
