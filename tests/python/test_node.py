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


def test_handles_compare_by_name_and_epoch_node_ids_by_index_and_name():
    dag = DAG()
    first = dag.add_node("a")
    again = dag.node_ref("a")
    dag.add_nodes(["b", "c"])
    before = dag.nodes()
    dag.remove_node("a")
    renewed = dag.add_node("a")  # takes the freed slot 0
    after = dag.nodes()
    assert first == again and first is not again and renewed != first and renewed.epoch == 3
    assert {first, again, renewed} == {first, renewed}
    assert before[1:] == after[1:] and before[0] == after[0] and before[0] is not after[0]
    assert after[0] != renewed and after[0] != "a" and str(after[0]) == str(renewed) == "a"
    dag.remove_node("a")
    dag.add_node("z")
    assert dag.nodes()[0] != before[0] and dag.nodes()[0].index == before[0].index == 0
    with pytest.raises(TypeError):
        before[0] < before[1]


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
