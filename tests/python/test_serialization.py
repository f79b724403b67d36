"""File forms: JSON text, the binary form in memory and in files, DOT and Mermaid, payload hooks."""

import enum
import gc
import itertools
import json
import math
import os
import pathlib
import random
import re
import shutil
import struct
import subprocess
import sys

import pytest

from conftest import snapshot
from torvex import DAG, CycleError, DuplicateNodeError, GraphError, NodeNotFoundError

# Names that break a verbatim DOT or Mermaid text, and pairs that naive escaping would merge:
# x\<line feed>y continues a DOT line to xy, and back\ and back\\ differ by one backslash.
HOSTILE = ['say "hi"', 'a"; "b', "back\\", "back\\\\", "x\\\ny", "xy", "line\nbreak", "cr\r",
           "end", "n0", "#quot;", "a b", "é", ""]

GOLDEN = pathlib.Path(__file__).parents[1] / "core" / "golden"  # shared with the core tests
NAN_BITS = 0x7FF8_0000_DEAD_BEEF  # a NaN with payload bits: must survive bit for bit


def golden(name):
    return (GOLDEN / name).read_text()


def decode(data):
    """An independent reader of the binary form: ([(name, payload text)],
    [(from, to, weight bits, label)]), None standing for an absent payload or label."""
    view, pos = memoryview(data), 0

    def take(n):
        nonlocal pos
        pos += n
        return bytes(view[pos - n:pos])

    def u64():
        return struct.unpack("<Q", take(8))[0]

    def text():
        return take(u64()).decode()

    def optional():
        return text() if take(1) == b"\x01" else None

    nodes = [(text(), optional()) for _ in range(u64())]
    return nodes, [(text(), text(), u64(), optional()) for _ in range(u64())]


def payload_texts(dag, serializer):
    return [p for _, p in decode(dag.to_bytes(serializer))[0]]


@pytest.fixture
def example():
    """The graph of the DOT and Mermaid examples: a -> b (2.0), a -> c (label x), b -> c."""
    dag = DAG()
    dag.add_nodes([("a", {"k": 1}), "b", "c"])
    dag.add_edges([("a", "b", 2.0), ("a", "c", 1.0, "x"), ("b", "c")])
    return dag


@pytest.fixture
def awkward():
    """A reused slot, special weights, labels that need escaping, payloads and metadata."""
    dag = DAG()
    dag.add_nodes(["gone", "q\"u\\o\nté", "z", "y"])
    dag.remove_node("gone")
    dag.add_node("reused", [1, 2], "meta")  # takes slot 0
    nan = struct.unpack("<d", struct.pack("<Q", NAN_BITS))[0]
    for k, weight in enumerate([nan, math.inf, -math.inf, -0.0, 5e-324, 2.5]):
        dag.add_edge("reused", "z", weight, None if k % 2 else f"l\"{k}\n✓")
    dag.add_edge("z", "y", label="")
    return dag


# --- exact texts and bytes --------------------------------------------------------------------


def test_texts_of_the_examples(example):
    assert example.to_dot(lambda name, p: "shape=box" if name == "a" else None) == golden(
        "example.dot")
    assert example.to_mermaid() == golden("example.mmd")
    assert DAG().to_dot() == "digraph {\n}" and DAG().to_mermaid() == "graph TD\n"
    dag = DAG()
    assert dag.to_json() == '{\n  "nodes": [],\n  "edges": []\n}'
    dag.add_node("a", {"k": 1})
    dag.add_node("b", "left out")
    dag.add_edge("a", "b", 2.5, "x")
    assert dag.to_json(lambda p: p if isinstance(p, dict) else 1 / 0) == golden("document.json")
    assert '"payload"' not in dag.to_json()
    assert DAG().to_bytes() == bytes(16)


def nested(depth):
    value = []
    for _ in range(depth - 1):
        value = [value]
    return value


def test_json_is_written_only_when_it_reads_back_the_same():
    dag = DAG()
    dag.add_nodes([("a", 1), ("b", 2)])
    calls = []
    for weight, text in [(math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf")]:
        dag.add_edge("a", "b", weight)
        with pytest.raises(GraphError) as error:
            dag.to_json(calls.append)
        assert str(error.value) == (f"JSON serialization failed: edge a -> b has weight {text}, "
                                    "which JSON cannot represent")
        dag.remove_edge("a", "b")
    assert calls == []  # refused before any serializer runs

    # Non-finite floats inside a payload are null in both forms.
    values = [nested(124), math.nan, [1.5, math.inf], {"k": -math.inf}, 0.5]
    dag = DAG()
    dag.add_nodes([(str(k), value) for k, value in enumerate(values)])
    loaded = DAG.from_json(dag.to_json(lambda p: p), lambda v: v)
    both = [values[0], None, [1.5, None], {"k": None}, 0.5]
    assert [loaded.get_payload(str(k)) for k in range(5)] == both
    assert payload_texts(dag, lambda p: p)[1:4] == ["null", "[1.5,null]", '{"k":null}']


@pytest.mark.parametrize("form", ["to_json", "to_bytes", "save"])
def test_a_payload_deeper_than_the_reader_admits_refuses_the_graph(tmp_path, form):
    deepest, failed = (124, "JSON serialization failed") if form == "to_json" else (
        127, "Bincode write error")
    target = tmp_path / "g.bin"
    target.write_bytes(b"old")
    write = getattr(DAG, form) if form != "save" else lambda d, s: d.save(str(target), s)
    dag = DAG()
    dag.add_nodes([("a", deepest), ("b", 1000), ("c", 1)])
    calls = []
    with pytest.raises(GraphError) as error:
        write(dag, lambda depth: calls.append(depth) or nested(depth))
    assert str(error.value) == (f"{failed}: payload of node b is nested more than {deepest} "
                                "levels deep, which the reader refuses")
    assert calls == [deepest, 1000]  # c's serializer never ran
    assert target.read_bytes() == b"old" and os.listdir(tmp_path) == ["g.bin"]
    # A list that holds itself has no JSON form at all: left out like any such result.
    loop = []
    loop.append(loop)
    write(dag, lambda depth: [loop] if depth > deepest else nested(depth))


def test_hostile_names_and_labels_draw_the_same_graph():
    dag = DAG()
    dag.add_nodes(HOSTILE)
    for k, (a, b) in enumerate(zip(HOSTILE, HOSTILE[1:])):
        dag.add_edge(a, b, label=HOSTILE[-k - 1])
    dag.add_edge(HOSTILE[0], HOSTILE[-1], 2.5)
    # Mermaid: one line per statement, a plain identifier and one quoted text per node.
    lines = dag.to_mermaid().splitlines()
    assert len(lines) == 1 + len(dag) + dag.edge_count()
    assert all(re.fullmatch(r'    \w+\["[^"]*"\]', line) for line in lines[1:len(dag) + 1])
    edge_line = r'    \w+ -->(\|"[^"]*"\|)? \w+'
    assert all(re.fullmatch(edge_line, line) for line in lines[len(dag) + 1:])
    if shutil.which("dot") is None:
        pytest.skip("Graphviz is not installed")
    drawn = json.loads(subprocess.run(["dot", "-Tjson"], input=dag.to_dot(), capture_output=True,
                                      text=True, check=True).stdout)
    assert len(drawn["objects"]) == len(dag) and len(drawn["edges"]) == dag.edge_count()
    # DOT reads back every name.
    assert [o["name"] for o in drawn["objects"]] == HOSTILE


MERMAID = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "tools" / "mermaid"
# Pieces of names and labels that Mermaid's rewriting and grammar have misread, and keywords.
MERMAID_PIECES = ["", " ", "\t", "\n", "\r\n", '"', "`", "<a", "b=", '="', "<br>", ">", "%%{",
                  "}%%", "%", "#", "#_;", "#quot;", ";", ":", "style", "classDef", "direction",
                  "direction TB", " TB", "TBD", "end", "graph", "subgraph", "click", "class",
                  "default", "-->", "|", "[", "]", "(", "}", "&amp;", "é", "\u00a0", "\u2028",
                  "\ufeff", "\ufb02\u00b0", "\u00b6\u00df", "\\", "@{", "x", "v", "_", "-", "1"]
MERMAID_WORDS = ["a", "o", "v", "end", "style", "click", "default", "direction", "set_direction",
                 "TB", "TBD", "n0", "_", "1", "_top", "é"]


def test_mermaid_reads_back_every_name_edge_and_label():
    # Random graphs of hostile names and labels, read by Mermaid's own parser: one vertex per
    # node showing its name (entity codes decoded, <br> a line break), and every edge with its
    # label or weight. Plain identifiers keep their bytes as Mermaid identifiers.
    if shutil.which("node") is None or not (MERMAID / "mmdparse.js").exists():
        pytest.skip("node or Mermaid's parser is not available")
    rng = random.Random(7)

    def text():
        if rng.random() < 0.3:
            return rng.choice("-_").join(rng.choices(MERMAID_WORDS, k=rng.randint(1, 3)))
        return "".join(rng.choices(MERMAID_PIECES, k=rng.randint(0, 5)))

    weights = {1.0: "", 2.0: "2", 0.5: "0.5", math.inf: "inf", math.nan: "", -0.0: "-0"}
    graphs = []
    for _ in range(400):
        dag, edges = DAG(), []
        names = list(dict.fromkeys(text() for _ in range(rng.randint(1, 7))))
        dag.add_nodes(names)
        for _ in range(rng.randint(0, 8) if len(names) > 1 else 0):
            a, b = sorted(rng.sample(range(len(names)), 2))
            weight, label = rng.choice(list(weights)), text() if rng.random() < 0.5 else None
            dag.add_edge(names[a], names[b], weight, label=label)
            edges.append((names[a], names[b], weights[weight] if label is None else label))
        graphs.append((dag.to_mermaid(), names, edges))
    lines = "".join(json.dumps(t) + "\n" for t, _, _ in graphs)
    results = subprocess.run(["node", str(MERMAID / "mmdparse.js"), "--batch"], input=lines,
                             capture_output=True, text=True, check=True).stdout.split("\n")

    def shown(text):
        html = text.replace("\ufb02\u00b0\u00b0", "&#").replace("\ufb02\u00b0", "&")
        html = html.replace("\u00b6\u00df", ";")
        assert not re.search(r"[<>]|&(?!#\d+;|quot;)", html.replace("<br>", "")), text
        return re.sub(r"&(#(\d+)|quot);", lambda m: chr(int(m[2])) if m[2] else '"',
                      html.replace("<br>", "\n"))

    for (diagram, names, edges), result in zip(graphs, results):
        read = json.loads(result)
        assert read["ok"] and not read["otherCalls"] and read["direction"] == "TB", diagram
        by_id = {v["id"]: shown(v["text"]) for v in read["vertices"]}
        assert sorted(by_id.values()) == sorted(names), diagram
        plain = r"(a|o|v|TBD?|n0|_|1)([-_](a|o|v|TBD?|n0|_|1))*"
        assert all(by_id.get(n) == n for n in names if re.fullmatch(plain, n)), diagram
        assert [(by_id[e["start"]], by_id[e["end"]], shown(e["text"]))
                for e in read["edges"]] == edges, diagram


# What a DOT form carries, as Graphviz and pydot read it. A quoted string loses a backslash run
# of odd length that meets a quote, a line feed or its end, a backslash before a line feed (pydot)
# and a line feed alone between quotes, backslashes and its ends (Graphviz 2.43); parts joined by
# '+' may end between a run and a line feed. Angle brackets carry what pairs them up, in runs
# without a bracket or line feed short enough for Graphviz.
ODD_RUN = r"(?<!\\)(?:\\\\)*\\"
QUOTED_LOSES = re.compile(ODD_RUN + r'(?=["\n]|\Z)|(?:\A|(?<=["\\]))\n(?=["\\]|\Z)|'
                          + ODD_RUN + r'\r\n(?=["\\]|\Z)')


def dot_carries(text):
    depth = 0
    for c in text:
        depth += {"<": 1, ">": -1}.get(c, 0)
        if depth < 0:
            break
    brackets = depth == 0 and all(len(run.encode()) <= 16000 for run in re.split("[<>\n]", text))
    return "\0" not in text and (brackets or not QUOTED_LOSES.search(text))


def dot_label_carries(label):
    # Always quoted (angle brackets would make it HTML); line feeds lost to Graphviz alone pass.
    return "\0" not in label and not re.search(ODD_RUN + r'(?=["\n]|\Z)', label)


def graphviz_reads(text):
    """(names, [(tail, head, label)]) by node position, as `dot -Tjson` reads them."""
    done = subprocess.run(["dot", "-Tjson"], input=text.encode(), capture_output=True)
    assert done.returncode == 0 and done.stderr == b"", done.stderr[:500]
    drawn = json.loads(done.stdout)
    edges = sorted(drawn.get("edges", []), key=lambda e: e["_gvid"])
    return ([o["name"] for o in drawn["objects"]],
            [(e["tail"], e["head"], e.get("label")) for e in edges])


def pydot_reads(text):
    """The same as pydot reads them: quoted IDs come raw, with their quotes and escapes."""
    import pydot

    def unquote(ident):
        if ident.startswith('"'):
            return re.sub(r'\\(.)', lambda m: m[1] if m[1] == '"' else m[0], ident[1:-1],
                          flags=re.S)
        return ident[1:-1] if ident.startswith("<") else ident

    (graph,) = pydot.graph_from_dot_data(text)
    names = [unquote(n.get_name()) for n in graph.get_nodes()]
    at = {name: k for k, name in enumerate(names)}
    edges = [(at[unquote(e.get_source())], at[unquote(e.get_destination())],
              unquote(e.get("label")) if e.get("label") is not None else None)
             for e in graph.get_edges()]
    return names, edges


def dot_readers():
    readers = {}
    if shutil.which("dot") is not None:
        readers["graphviz"] = graphviz_reads
    try:
        import pydot  # noqa: F401
        readers["pydot"] = pydot_reads
    except ImportError:
        pass
    if not readers:
        pytest.skip("neither Graphviz nor pydot is installed")
    return readers


def check_dot_reads(dag, names, edges, only=None):
    """Both readers (or `only` one) read every node and edge (one per pair of nodes), distinct
    names apart and carried texts exactly."""
    text = dag.to_dot()
    read = {reader: read(text) for reader, read in dot_readers().items() if only in (None, reader)}
    labels = {}
    for reader, (read_names, read_edges) in read.items():
        assert len(read_names) == len(set(read_names)) == len(names), reader
        renamed = reader == "graphviz"  # it renames names that start with '%'
        for name, got in zip(names, read_names):
            if dot_carries(name) and not (renamed and name.startswith("%")):
                assert got == name, (reader, name)
        labels[reader] = {(a, b): label for a, b, label in read_edges}
        assert len(labels[reader]) == len(read_edges)
        assert sorted(labels[reader]) == sorted((a, b) for a, b, _ in edges), reader
        for a, b, label in edges:
            got = labels[reader][a, b]
            if label is None:
                assert not got  # Graphviz gives every edge the empty default
            elif not dot_label_carries(label):
                assert got is not None
            elif reader == "graphviz":  # loses a line feed that stands alone
                assert got.replace("\n", "") == label.replace("\n", ""), label
            else:
                assert got == label, label
    if len(read) == 2:  # what no form carries, both read alike
        kept = [k for k, name in enumerate(names) if not name.startswith("%")]
        assert [read["graphviz"][0][k] for k in kept] == [read["pydot"][0][k] for k in kept]
        assert all(labels["graphviz"][a, b] == labels["pydot"][a, b] for a, b, label in edges
                   if label is not None and not dot_label_carries(label))


# Pieces of names and labels that DOT readers have misread.
DOT_PIECES = ["\0", "a\0", "\\", "\\\\", "\\\\\\", '"', '\\"', '\\\\"', "\\\n", "\\\r\n",
              "\n", "\r", "\r\n", "<", ">", "<>", "><", "<a>", "%", "\\N", "\\G", "\\l", "&amp;",
              "&lt;", "é", "\U0001f600", "\u2028", "+", ";", "{", "}", "->", " ", "node", "a", "b"]
LONG_NAMES = ["é" * 10000, "\U0001f600" * 5000, "<" + "é" * 9000 + "\\", "é" * 9000 + "\\",
              "x" * 20000 + '\\"', "\\\n" + "x" * 9000]


def test_dot_reads_back_hostile_graphs():
    # Random graphs of hostile names and labels, read back by Graphviz and pydot: every node and
    # edge, names kept apart, and every name and label that a DOT form carries byte for byte.
    rng = random.Random(28)

    def text():
        return "".join(rng.choices(DOT_PIECES, k=rng.randint(0, 5)))

    for _ in range(3):
        names = list(dict.fromkeys(text() for _ in range(60)))
        dag, edges = DAG(), []
        dag.add_nodes(names)
        pairs = {tuple(sorted(rng.sample(range(len(names)), 2))) for _ in range(2 * len(names))}
        for a, b in sorted(pairs):
            label = text() if rng.random() < 0.7 else None
            dag.add_edge(names[a], names[b], label=label)
            edges.append((a, b, label))
        check_dot_reads(dag, names, edges)
    # Long names, and escaped names that meet the graph's other names.
    names = LONG_NAMES + ["\0", "\\0", "\\0_", "<\\", "<\\\\"]
    dag = DAG()
    dag.add_nodes(names)
    edges = [(k, k + 1, names[-k - 1]) for k in range(len(names) - 1)]
    for a, b, label in edges:
        dag.add_edge(names[a], names[b], label=label)
    check_dot_reads(dag, names, edges)


def test_dot_reads_every_name_as_its_own_node():
    # Every text of up to four quotes, backslashes, line feeds and brackets, and longer random
    # ones: DOT reads each name back as a node of its own and each label whole. pydot, slower,
    # reads those of up to three.
    rng = random.Random(22)
    names = ["".join(t) for k in range(5) for t in itertools.product('a\\"\n<>', repeat=k)]
    names += ["".join(rng.choices('a\\"\n\r<>+ #é', k=rng.randint(5, 12))) for _ in range(300)]
    names = list(dict.fromkeys(names))
    for reader, count in (("graphviz", len(names)), ("pydot", 259)):
        dag = DAG()
        dag.add_nodes(names[:count])
        edges = [(k, k + 1, names[count - k - 1]) for k in range(count - 1)]
        for a, b, label in edges:
            dag.add_edge(names[a], names[b], label=label)
        if reader in dot_readers():
            check_dot_reads(dag, names[:count], edges, only=reader)


def test_node_attrs(example):
    seen = []

    def attrs(name, payload):
        seen.append((name, payload))
        return {"a": {"shape": "box"}, "b": 7, "c": ""}[name]

    assert example.to_dot(attrs).splitlines()[1:4] == ['    "a";', '    "b";', '    "c" [];']
    assert seen == [("a", {"k": 1}), ("b", None), ("c", None)]
    plain = example.to_dot()
    assert example.to_dot(lambda n, p: 1 / 0) == example.to_dot("not callable") == plain


# --- round trips ------------------------------------------------------------------------------


def test_loaded_graphs_are_new_graphs(awkward):
    data = awkward.to_bytes()
    for loaded in [DAG.from_bytes(data), DAG.from_bytes(data + b"junk")]:
        assert loaded.node_names() == awkward.node_names() == ["reused", "q\"u\\o\nté", "z", "y"]
        assert [n.index for n in loaded.nodes()] == [0, 1, 2, 3]
        assert loaded.generation == 4 + 7 and loaded.cache_info()["size"] == 0
        assert loaded.get_payload("reused") is None and loaded.get_metadata("reused") is None
    assert DAG.from_bytes(data).to_bytes() == data


# --- payload conversion -----------------------------------------------------------------------


class Color(enum.IntEnum):
    RED = 3


def test_python_values_to_json():
    deep, loop = [], []
    for _ in range(126):
        deep = [deep]
    loop.append(loop)
    cases = [
        (None, "null"), (True, "true"), (Color.RED, "3"), (math.nan, "null"), (-math.inf, "null"),
        (2**63 - 1, "9223372036854775807"), (-2**63, "-9223372036854775808"), (2**63, None),
        (-0.0, "-0.0"), (1e16, "1e+16"), (type("F", (float,), {})(0.5), "0.5"),
        ("\x01\"é", '"\\u0001\\"é"'), ("\ud800", None), (type("L", (list,), {})([1]), "[1]"),
        ((1,), None), ({1}, None), (b"x", None), (object(), None), ({1: 2}, None),
        ({"b": [1, 2.5], "a": "x"}, '{"a":"x","b":[1,2.5]}'),
        ({"a": 1, "B": 2, "ab": 3}, '{"B":2,"a":1,"ab":3}'),
        (deep, "[" * 127 + "]" * 127), (loop, None), ({"k": loop}, None),
    ]
    dag = DAG()
    dag.add_nodes([(str(k), value) for k, (value, _) in enumerate(cases)])
    # An error indicator left set by a hook would surface here as SystemError.
    assert payload_texts(dag, lambda p: p) == [text for _, text in cases]


def test_json_values_to_python():
    seen = []
    loaded = DAG.from_json(
        '{"nodes": [{"name": "a", "payload": [18446744073709551615, -1, 1.5, true, "s"]},'
        ' {"name": "b", "payload": {"b": {"y": 1, "x": null}, "a": []}},'
        ' {"name": "c", "payload": null}, {"name": "d"}], "edges": []}',
        lambda v: seen.append(v) or v)
    assert seen[0] == [1.8446744073709552e19, -1, 1.5, True, "s"] and type(seen[0][1]) is int
    assert list(seen[1]) == ["a", "b"] and list(seen[1]["b"]) == ["x", "y"]
    assert len(seen) == 2 and loaded.get_payload("a") is seen[0]


def test_failing_hooks_leave_payloads_out():
    dag = DAG()
    dag.add_nodes([("a", 1), ("b", 2), "c"])
    calls = []

    def serializer(p):
        calls.append(p)
        return {1: 1}[p]  # KeyError for 2

    assert payload_texts(dag, serializer) == ["1", None, None] and calls == [1, 2]
    loaded = DAG.from_bytes(dag.to_bytes(lambda p: p), lambda v: str(v) if v != 2 else 1 / 0)
    assert loaded.get_payload("a") == "1" and loaded.get_payload("b") is None
    assert payload_texts(loaded, lambda p: "present") == ['"present"', None, None]


def test_null_and_none_payloads():
    dag = DAG()
    dag.add_node("a", "x")
    calls = []
    # A serializer's None is JSON null, which the document reads as no payload at all...
    assert DAG.from_json(dag.to_json(lambda p: None), calls.append).get_payload("a") is None
    assert calls == []
    # ...while the binary form hands the null to the deserializer,
    loaded = DAG.from_bytes(dag.to_bytes(lambda p: None), calls.append)
    assert calls == [None]
    # whose None result is a payload object: the next serializer sees it.
    assert payload_texts(loaded, lambda p: [p]) == ["[null]"]


def test_hooks_may_read_but_not_modify_the_graph(example):
    before = snapshot(example)
    assert payload_texts(example, lambda p: example.node_count()) == ["3", None, None]
    assert payload_texts(example, lambda p: example.add_node("new")) == [None, None, None]
    errors = []

    def attrs(name, payload):
        try:
            example.remove_node(name)
        except RuntimeError as e:
            errors.append(str(e))

    assert example.to_dot(attrs) == example.to_dot()
    assert errors == ["Already borrowed"] * 3 and snapshot(example) == before


def test_reference_counts():
    payload, result = object(), object()
    dag = DAG()
    dag.add_node("a", payload)
    start = sys.getrefcount(payload), sys.getrefcount(result)
    for _ in range(3):
        dag.to_json(lambda p: [1]), dag.to_bytes(lambda p: 1 / 0), dag.to_dot(lambda n, p: "")
    loaded = DAG.from_bytes(dag.to_bytes(lambda p: 0), lambda v: result)
    assert sys.getrefcount(result) == start[1] + 1
    del loaded
    gc.collect()
    assert (sys.getrefcount(payload), sys.getrefcount(result)) == start


# --- reader and argument errors ---------------------------------------------------------------

JSON_FAILED = "JSON deserialization failed: "


@pytest.mark.parametrize("text, error, message", [
    ('{"nodes": []}', GraphError, JSON_FAILED + "missing field `edges` at line 1 column 13"),
    ('[[["a", 1], ["a", 2]], []]', DuplicateNodeError, "a"),
    ('[[["a", null]], [["a", "b", 1, null]]]', NodeNotFoundError, "b"),
    ('[[["a", 1], ["b", 1]], [["a", "b", 1, null], ["b", "a", 1, null]]]', CycleError,
     "Edge b -> a would create a cycle: a -> b"),
])
def test_json_reader_errors(text, error, message):
    with pytest.raises(error) as info:
        DAG.from_json(text, lambda v: v)
    assert str(info.value) == message and type(info.value) is error


# --- files ------------------------------------------------------------------------------------


def test_save_and_load_run_the_hooks(tmp_path, awkward):
    path = str(tmp_path / "graph.bin")
    assert awkward.save(path, lambda p: p) is None
    loaded = DAG.load(path, lambda v: v)
    assert loaded.get_payload("reused") == [1, 2] and loaded.to_bytes() == awkward.to_bytes()
    assert pathlib.Path(path).read_bytes() == awkward.to_bytes(lambda p: p)
    assert os.listdir(tmp_path) == ["graph.bin"]
