"""Adding nodes and edges: names that are not plain text, and the batch path for long lists."""

import random
import sys
import types

import pytest

from conftest import chain, snapshot
from torvex import DAG, CycleError, NodeNotFoundError, StaleNodeRefError


@pytest.mark.parametrize("items", [1, 256, 1000])
def test_add_edges_that_adds_nothing_keeps_cache_and_generation(items):
    dag = DAG()
    dag.add_nodes([str(i) for i in range(300)])
    dag.add_edges([(str(i), str(i + 1)) for i in range(299)])
    dag.roots()
    before, cache = snapshot(dag), dag.cache_info()
    with pytest.raises(CycleError):
        dag.add_edges([("299", "0")] + [("0", "299")] * (items - 1))
    dag.roots()
    assert snapshot(dag) == before and dag.cache_info() == dict(cache, hits=cache["hits"] + 1)
    # Once an edge stays, the cache is emptied as by add_edge.
    with pytest.raises(CycleError):
        dag.add_edges([("0", "299")] * (items - 1) + [("299", "0")])
    dag.roots()
    assert dag.generation == before[2] + items - 1
    assert dag.cache_info()["misses"] == cache["misses"] + (items > 1)


def test_names_are_text_with_str_subclasses():
    class Label(str):
        def __str__(self):
            return "renamed"

    dag = DAG()
    dag.add_node("renamed")
    dag.add_node("")
    assert dag.has_node(Label("anything")) and dag.has_node("")


def test_a_name_without_utf8_form_names_no_node():
    class Lone(str):
        def __str__(self):
            return "\udfff"

    bad = "\udfff"  # read leniently, it would name the first node
    shown = "\ufffd" * 3  # how an error message shows it
    dag = DAG()
    dag.add_nodes([shown, "x", "y"])
    dag.add_edge("x", shown)
    stale = dag.node_ref("y")
    dag.remove_node("y")
    dag.add_node("y")
    index = dag.build_reachability_index()
    before = snapshot(dag)
    assert not dag.has_node(bad) and bad not in dag and not dag.has_node(Lone("x"))
    for call in [
            lambda: dag.remove_node(bad), lambda: dag.remove_node(Lone("x")),
            lambda: dag.get_payload(bad), lambda: dag.set_metadata(bad, 1),
            lambda: dag.add_edge("x", bad), lambda: dag.remove_edge("x", bad),
            lambda: dag.has_edge(bad, "nowhere"), lambda: dag.is_ancestor("x", bad),
            lambda: dag.iter_descendants(bad), lambda: dag.shortest_path("x", bad),
            lambda: dag.subgraph(["x", bad, "nowhere"]), lambda: dag.subgraph_by_depth(bad, 1),
            lambda: dag.dirty_set([bad]), lambda: dag.collapse([bad], "z"),
            lambda: dag.dominator_tree(bad), lambda: index.can_reach("x", bad),
            lambda: dag[bad], lambda: dag.__setitem__(bad, 1),
            lambda: dag.add_edges([("x", "y"), (bad, "x", 2.0)]),
            lambda: dag.add_edges([("x", "y")] * 300 + [(bad, "x")])]:
        with pytest.raises(NodeNotFoundError) as caught:
            call()
        assert str(caught.value) == shown
    # Handles are checked before any name is looked up.
    with pytest.raises(StaleNodeRefError):
        dag.remove_edge(bad, stale)
    # A name for a new node, a pattern or a cost key is text, and text must be encodable.
    for call in [lambda: dag.add_node(bad), lambda: dag.collapse(["x"], bad),
                 lambda: dag.node_ref(bad), lambda: dag.nodes_matching_glob(bad),
                 lambda: dag.bottom_levels({bad: 2.0}), lambda: dag.add_edge("x", "y", 1, bad)]:
        with pytest.raises(UnicodeEncodeError):
            call()
    with pytest.raises(TypeError, match="^Each node"):
        dag.add_nodes([bad])
    with pytest.raises(TypeError, match="^Each edge"):
        dag.add_edges([("x", "y", 1.0, bad)])
    # Only the items before a missing node were added.
    assert dag.edges() == before[1] + [("x", "y")] * 301 and dag.node_names() == before[0]
    assert dag.get_metadata(shown) is None


class Broken(str):
    def __str__(self):
        raise ValueError("no text")


def test_a_str_subclass_that_cannot_be_printed(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    dag = DAG()
    dag.add_node("<unprintable Broken object>")
    assert dag.has_node(Broken("a"))
    assert [type(r.exc_value) for r in reported] == [ValueError]



@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit])
def test_an_error_that_is_no_exception_in_str_of_a_name_propagates(monkeypatch, error):
    """Only an Exception from __str__ is reported and replaced; a Ctrl-C stops the call, and
    the edges of the items before it stay."""
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)

    class Stop(str):
        def __str__(self):
            raise error("stop")

    class Weight:
        def __float__(self):
            raise error("stop")

    dag = chain(3)
    for call in [lambda: dag.has_node(Stop("0")), lambda: dag.add_edge("0", Stop("2")),
                 lambda: dag.remove_node(Stop("1")), lambda: dag.subgraph(["0", Stop("1")]),
                 lambda: dag.is_ancestor(Stop("0"), "2"),
                 lambda: dag.add_edges([("0", "2"), (Stop("0"), "2")]),
                 lambda: dag.add_edges([("0", "2")] * 300 + [(Stop("0"), "2")]),
                 lambda: dag.add_edges([("0", "2"), ("0", "2", Weight())])]:
        with pytest.raises(error):
            call()
    assert reported == []
    assert dag.edges() == [("0", "1"), ("1", "2")] + [("0", "2")] * 302

def test_builder_calls_the_factory_each_time(monkeypatch):
    made = []
    module = types.ModuleType("torvex.builder")
    module.DAGBuilder = lambda: made.append(object()) or made[-1]
    monkeypatch.setitem(sys.modules, "torvex.builder", module)
    first, second = DAG.builder(), DAG().builder()
    assert made == [first, second] and first is not second


def _outcome(call):
    try:
        call()
        return None
    except Exception as e:  # compared by class and text
        return type(e), str(e)


@pytest.mark.parametrize("seed", range(6))
def test_long_add_edges_lists_match_one_add_edge_per_item(seed):
    """Long lists are inserted as a batch checked once: the outcome must not show it."""
    rng = random.Random(seed)
    names = [f"n{i}" for i in range(60)]
    items = []
    for _ in range(400):
        a, b = sorted(rng.sample(range(60), 2))
        items.append((names[a], names[b], float(rng.randrange(3))))
    if seed % 3 == 0:
        items.insert(rng.randrange(300), (names[50], names[3]))  # may close a cycle
    if seed % 2 == 0:
        items.insert(rng.randrange(400), ("n1", 5))  # malformed
    if seed == 5:
        items.insert(rng.randrange(400), ("n1", "missing"))
    if seed % 2:  # the batch stops before it, and takes the rest after it
        items.insert(rng.randrange(400), (type("Name", (str,), {})("n2"), "n7"))
    batched, single = DAG(), DAG()
    batched.add_nodes(names)
    single.add_nodes(names)
    stale = batched.add_node("gone")
    batched.remove_node("gone")
    single.remove_node(single.add_node("gone"))
    if seed == 4:
        items.insert(rng.randrange(400), (stale, "n2"))

    got = _outcome(lambda: batched.add_edges(items))
    for item in items:  # a one-item list takes the per-edge path
        expected = _outcome(lambda: single.add_edges([item]))
        if expected:
            break
    assert got == expected
    assert batched.edges() == single.edges()
    assert batched.generation == single.generation
    assert batched.topological_sort() == single.topological_sort()


@pytest.mark.parametrize("seed", range(8))
def test_chunked_add_edges_match_one_add_edge_per_item(seed):
    """Layered edges in random order, one big list and then short ones: a short one starts edge
    by edge and finishes as a batch once the searches grow costly, and later long ones then go
    straight to the batch; neither may show, nor may a cycle or a bad item in any of them."""
    rng = random.Random(seed)
    width, stages = 10, 80
    names = [f"s{i // width}-{rng.randrange(10**6)}-{i}" for i in range(width * stages)]
    rng.shuffle(names)  # node order unrelated to the stages
    items = []
    for i in range(width * (stages - 1)):
        nxt = (i // width + 1) * width
        for j in rng.sample(range(width), 3):
            items.append((names[i], names[nxt + j]) if rng.random() < 0.8
                         else (names[i], names[nxt + j], 2.0, f"l{i}"))
    rng.shuffle(items)
    bad = [(names[-1], names[0]), (names[5], names[5]), ("nope", names[0]), (names[1],)]
    if seed % 5 != 4:
        items.insert(rng.randrange(300, len(items)), bad[seed % 4])
    chunked, single = DAG(), DAG()
    chunked.add_nodes(names)
    single.add_nodes(names)
    got, start, sizes = None, 0, [300]
    while start < len(items) and not got:
        size = sizes[-1]
        got = _outcome(lambda: chunked.add_edges(items[start:start + size]))
        start += size
        sizes.append(260 if size != 260 else 60 + 25 * (seed % 3))
    expected = None
    for item in items:
        expected = _outcome(lambda: single.add_edges([item]))
        if expected:
            break
    assert got == expected
    assert chunked.edges() == single.edges()
    assert chunked.generation == single.generation
    assert chunked.topological_levels() == single.topological_levels()
    assert chunked.to_bytes() == single.to_bytes()  # weights and labels too


def test_add_edges_runs_python_code_of_items_in_item_order():
    """Converting an item may call __str__ or __float__: never before the items ahead of it are
    in, whichever path the list takes."""
    calls = []

    class Name(str):
        def __str__(self):
            return calls.append(self) or "x"

    class Weight:
        def __float__(self):
            return calls.append(self) or 2.0

    calling_back = [(Name("x"), "y"), ("x", "y", Weight())] * 150
    # Three chains added in order; edges between them force long reorderings, so the first list
    # passes its search budget before its fourth item, which closes a cycle.
    k = 4000
    dag = DAG()
    dag.add_nodes([f"{c}{i}" for c in "ABC" for i in range(k)] + ["x", "y"])
    dag.add_edges([(f"{c}{i}", f"{c}{i + 1}") for c in "ABC" for i in range(k - 1)])
    closing = (f"A{k - 1}", "C0")
    small = chain(2)
    small.add_nodes(["x", "y"])
    for graph, items, kept in [  # and how many items go in before the cycle
            (dag, [(f"B{k - 1}", "A0"), (f"C{k - 1}", "B0"), ("A1", "A3"), closing]
             + calling_back[:8], 3),
            (dag, [closing] + calling_back, 0),  # long, after an overrun: straight to a batch
            (small, [("1", "0")] + calling_back, 0)]:  # long against the graph
        before = graph.edge_count()
        with pytest.raises(CycleError):
            graph.add_edges(items)
        assert calls == [] and graph.edge_count() == before + kept



def _scalar_kinds(numpy):
    """Weights and names whose conversion runs no Python code: (weight maker, name maker)."""
    if numpy:
        np = pytest.importorskip("numpy")
        return {"np.float64": (np.float64, str), "np.float32": (np.float32, str),
                "np.int64": (np.int64, str), "np.str_": (float, np.str_)}
    own = type("Own", (str,), {"__str__": str.__str__})
    return {"float subclass": (type("W", (float,), {}), str),
            "int": (int, str),
            "int subclass with __index__": (type("I", (int,), {"__index__": lambda s: 0}), str),
            "str subclass": (float, type("Name", (str,), {})),
            "str subclass, str's own __str__": (float, own)}


@pytest.mark.parametrize("numpy", [False, True], ids=["builtins", "numpy"])
@pytest.mark.parametrize("seed", range(4))
def test_add_edges_takes_scalars_and_subclasses_in_batches(numpy, seed):
    """Items whose conversion runs no Python code go in as a batch; an item whose __str__ or
    __float__ is Python code goes alone, in item order, and the batch goes on after it. The
    outcome, and which Python code ran, is that of one add_edge per item."""
    kinds = _scalar_kinds(numpy)
    rng = random.Random(seed)
    calls = []

    class Logged(str):
        def __str__(self):
            calls.append(("name", str.__str__(self)))
            return str.__str__(self)

    class Ratio:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            calls.append(("weight", self.value))
            return self.value

    width, stages = 8, 60
    names = [f"s{i // width}-{i}" for i in range(width * stages)]
    rng.shuffle(names)  # node order unrelated to the stages
    pairs = [(names[i], names[(i // width + 1) * width + j])
             for i in range(width * (stages - 1)) for j in rng.sample(range(width), 3)]
    rng.shuffle(pairs)
    for kind, (weight, name) in kinds.items():
        items = [(name(a), name(b), weight(k % 5)) for k, (a, b) in enumerate(pairs)]
        for at in (0, len(items) // 2, len(items)):  # Python code at the start, middle and end
            a, b = pairs[at % len(pairs)]
            items.insert(at, (Logged(a), b, Ratio(float(at))))
        if seed % 2:
            items.insert(rng.randrange(400, 900), (names[-1], names[0]))  # may close a cycle
        if seed == 2:
            items.insert(rng.randrange(1, len(items)), (names[0], 5))  # malformed
        runs = []
        for whole_list in (True, False):
            calls.clear()
            dag = DAG()
            dag.add_nodes(names)
            if whole_list:
                got = _outcome(lambda: dag.add_edges(items))
            else:
                for item in items:  # a one-item list takes the per-edge path
                    got = _outcome(lambda: dag.add_edges([item]))
                    if got:
                        break
            runs.append((got, list(calls), snapshot(dag), dag.to_bytes()))
        assert runs[0] == runs[1], kind
        assert runs[0][1][:2] == [("name", pairs[0][0]), ("weight", 0.0)], kind


def _bfs_cycle_path(succ, a, b):
    """The path the refusal names: breadth-first from b along the newest edges first, to a."""
    if a == b:
        return [a]
    parent, queue = {b: None}, [b]
    for u in queue:
        for v in reversed(succ[u]):
            if v == a:
                path = [a, u]
                while parent[path[-1]] is not None:
                    path.append(parent[path[-1]])
                return path[::-1]
            if v not in parent:
                parent[v] = u
                queue.append(v)
    return None


@pytest.mark.parametrize("seed", range(4))
def test_edge_by_edge_insertion_in_any_order_refuses_as_a_plain_search(seed):
    """Layered edges in random order, one add_edge each, with edges against the stages and
    removals mixed in: every refusal, and its path, is the plain search's."""
    rng = random.Random(seed)
    width, stages = 12, 50
    names = [f"s{i // width}-{i}" for i in range(width * stages)]
    order = names[:]
    rng.shuffle(order)  # node order unrelated to the stages
    dag = DAG()
    dag.add_nodes(order)
    succ = {name: [] for name in names}
    pairs = [(names[i], names[(i // width + 1) * width + rng.randrange(width)])
             for i in range(width * (stages - 1)) for _ in range(4)]
    rng.shuffle(pairs)
    refused = 0
    for a, b in pairs:
        if rng.random() < 0.1:
            a, b = b, a
        if rng.random() < 0.02 and dag.edge_count():
            x, y = rng.choice([(u, v) for u in succ for v in succ[u]])
            dag.remove_edge(x, y)
            succ[x].reverse()
            succ[x].remove(y)  # the newest such edge goes first
            succ[x].reverse()
        path = _bfs_cycle_path(succ, a, b)
        if path is None:
            dag.add_edge(a, b)
            succ[a].append(b)
            continue
        refused += 1
        with pytest.raises(CycleError) as refusal:
            dag.add_edge(a, b)
        assert str(refusal.value) == f"Edge {a} -> {b} would create a cycle: {' -> '.join(path)}"
    assert refused > 20
    assert sorted(dag.edges()) == sorted((u, v) for u in succ for v in succ[u])


def _weights_running_python(error, numpy):
    """Weights whose conversion is C code that calls Python code raising `error`."""
    import weakref

    class Float:
        def __float__(self):
            raise error()

    held = Float()
    made = {"weak proxy": lambda: weakref.proxy(held)}
    if numpy:
        np = pytest.importorskip("numpy")
        made = {"0-d object array": lambda: np.array(Float(), dtype=object),
                "complex scalar": lambda: np.complex128(1 + 2j)}
    return held, made


@pytest.mark.parametrize("numpy", [False, True], ids=["builtins", "numpy"])
@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit])
def test_an_interrupt_in_a_weight_conversion_written_in_c_propagates(monkeypatch, numpy, error):
    """A long list's items go in as a batch; an item whose weight conversion runs Python code
    through C code (a weak proxy, a 0-d object array, a complex scalar's warning) must not hide
    a KeyboardInterrupt or SystemExit behind the edge-form TypeError: the items before stay."""
    import warnings

    def show(*args, **kwargs):
        raise error()

    monkeypatch.setattr(warnings, "showwarning", show)
    _held, made = _weights_running_python(error, numpy)
    pairs = [(f"n{i}", f"n{i + 1}") for i in range(600)]
    for kind, weight in made.items():
        dag = DAG()
        dag.add_nodes([f"n{i}" for i in range(601)])
        items = pairs[:300] + [(*pairs[300], weight())] + pairs[301:]
        with warnings.catch_warnings():
            warnings.simplefilter("always")
            with pytest.raises(error):
                dag.add_edges(items)
        assert dag.edge_count() == 300, kind


def test_no_python_code_runs_for_items_after_a_refused_one(monkeypatch):
    """One add_edge per item stops at a cycle-closing item; a batch must not convert the items
    after it either, when their conversion calls Python code (here warnings.showwarning)."""
    np = pytest.importorskip("numpy")
    import warnings

    shown = []
    monkeypatch.setattr(warnings, "showwarning", lambda *args, **kwargs: shown.append(args))
    dag = DAG()
    dag.add_nodes([f"n{i}" for i in range(601)])
    items = ([(f"n{i}", f"n{i + 1}") for i in range(300)] + [("n300", "n0")]
             + [(f"n{i}", f"n{i + 1}", np.complex128(1j)) for i in range(300, 599)])
    with warnings.catch_warnings():
        warnings.simplefilter("always")
        with pytest.raises(CycleError):
            dag.add_edges(items)
    assert shown == [] and dag.edge_count() == 300
