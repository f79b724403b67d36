"""NodeId and NodeRef: reprs, equality and process-independent hashes."""

import struct
import subprocess
import sys

import pytest

from torvex import DAG, NodeNotFoundError, StaleNodeRefError

MASK = (1 << 64) - 1


def siphash13(message):
    """Reference SipHash-1-3 with both keys zero."""
    def rotl(x, b):
        return ((x << b) | (x >> (64 - b))) & MASK

    v = [0x736f6d6570736575, 0x646f72616e646f6d, 0x6c7967656e657261, 0x7465646279746573]

    def sip_round():
        v[0] = (v[0] + v[1]) & MASK; v[1] = rotl(v[1], 13) ^ v[0]; v[0] = rotl(v[0], 32)
        v[2] = (v[2] + v[3]) & MASK; v[3] = rotl(v[3], 16) ^ v[2]
        v[0] = (v[0] + v[3]) & MASK; v[3] = rotl(v[3], 21) ^ v[0]
        v[2] = (v[2] + v[1]) & MASK; v[1] = rotl(v[1], 17) ^ v[2]; v[2] = rotl(v[2], 32)

    whole = len(message) // 8 * 8
    blocks = [int.from_bytes(message[i:i + 8], "little") for i in range(0, whole, 8)]
    blocks.append(int.from_bytes(message[whole:], "little") | ((len(message) & 0xFF) << 56))
    for block in blocks:
        v[3] ^= block
        sip_round()
        v[0] ^= block
    v[2] ^= 0xFF
    for _ in range(3):
        sip_round()
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def as_python_hash(h):
    h = MASK - 1 if h == MASK else h
    return h - (1 << 64) if h >= 1 << 63 else h


@pytest.mark.parametrize("name", ["a", "", "build/step-7", "ünïcode ✓", "x" * 40])
def test_hashes_follow_siphash13(name):
    dag = DAG()
    dag.add_node("filler")
    ref = dag.add_node(name)
    node = dag.nodes()[1]
    raw = name.encode()
    assert hash(ref) == as_python_hash(siphash13(raw + b"\xff" + struct.pack("<Q", ref.epoch)))
    assert hash(node) == as_python_hash(siphash13(struct.pack("<I", node.index) + raw + b"\xff"))


def test_hashes_are_equal_across_processes():
    code = "import torvex; d = torvex.DAG(); print(hash(d.add_node('k')), hash(d.nodes()[0]))"
    runs = {subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                           check=True).stdout for _ in range(2)}
    assert len(runs) == 1


def test_handles_compare_by_name_and_epoch():
    dag = DAG()
    first = dag.add_node("a")
    again = dag.node_ref("a")
    assert first == again and hash(first) == hash(again) and first is not again
    dag.remove_node("a")
    renewed = dag.add_node("a")
    assert renewed != first and renewed.epoch == 1
    node = dag.nodes()[0]
    assert node != renewed and node != "a" and str(node) == str(renewed) == "a"
    assert {first, again, renewed} == {first, renewed}


def test_node_ids_compare_by_index_and_name():
    dag = DAG()
    dag.add_nodes(["a", "b", "c"])
    before = dag.nodes()
    dag.remove_node("a")
    dag.add_node("z")  # takes the freed slot 0
    after = dag.nodes()
    assert before[1:] == after[1:]
    assert before[0] != after[0] and before[0].index == after[0].index == 0
    with pytest.raises(TypeError):
        sorted(after)
    with pytest.raises(TypeError):
        before[0] < before[1]


def test_attributes():
    dag = DAG()
    ref = dag.add_node("a")
    node = dag.nodes()[0]
    assert (ref.name, ref.epoch, node.name, node.index) == ("a", 0, "a", 0)
    assert type(ref).name.__doc__ == "The node's name."
    for obj, attr in [(ref, "name"), (ref, "epoch"), (node, "name"), (node, "index")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, 1)


@pytest.mark.parametrize("name, shown", [
    ('say "hi"\\\n', r'"say \"hi\"\\\n"'),
    ("it's\t\r\0", r'"it' "'" r's\t\r\0"'),
    ("e\u0301", r'"e\u{301}"'),           # combining mark: grapheme extender
    ("a\u200bb", r'"a\u{200b}b"'),         # Cf
    ("a\u00a0b c", r'"a\u{a0}b c"'),       # Zs except the plain space
    ("\x7f\u2028", r'"\u{7f}\u{2028}"'),   # Cc, Zl
    ("\ue000\U000e0001", r'"\u{e000}\u{e0001}"'),  # Co, Cf
    ("\U000e0080\u0378", r'"\u{e0080}\u{378}"'),   # unassigned
    ("Ωλ→✓😀", '"Ωλ→✓😀"'),
])
def test_reprs_quote_names(name, shown):
    dag = DAG()
    ref = dag.add_node(name)
    assert repr(ref) == f"NodeRef(name={shown}, epoch=0)"
    assert repr(dag.nodes()[0]) == f"NodeId(name={shown}, index=0)"


def test_handles_from_another_graph():
    one, two = DAG(), DAG()
    ref = one.add_node("a")
    two.add_node("a")
    assert two.has_node(ref) and two.successors(ref) == []
    two.add_nodes(["x", "b"])
    with pytest.raises(StaleNodeRefError):
        two.successors(one.add_node("b"))  # epoch 1 here, 2 there
    with pytest.raises(NodeNotFoundError):
        two.successors(one.add_node("c"))
