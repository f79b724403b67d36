"""Threads hammering shared graphs with long reads and writes for a bounded time.

The only failures allowed are the borrow errors (and the cycle errors the writers provoke on
purpose); no crash, no deadlock, and afterwards each graph holds exactly what the successful
writes left, with counters and cache counts to match.
"""

import json
import sys
import threading
import time

from conftest import is_topo_order
from torvex import DAG, CycleError

BORROW_ERRORS = {"Already borrowed", "Already mutably borrowed"}
RUN_SECONDS = 1.5
CHAIN = 10_000


def permanent_graph():
    """A deep chain with skip edges; nothing in the test ever removes these."""
    dag = DAG()
    names = [f"p{i:05d}" for i in range(CHAIN)]
    dag.add_nodes(names)
    dag.add_edges([(names[i], names[i + 1]) for i in range(CHAIN - 1)]
                  + [(names[i], names[i + 7]) for i in range(0, CHAIN - 7, 5)])
    return dag, names


class Worker(threading.Thread):
    """Runs step() until stopped, sorting every outcome; anything unexpected is kept."""

    def __init__(self, step, stop):
        super().__init__(daemon=True)
        self.step, self.stop = step, stop
        self.ok = self.conflicts = self.cycles = 0
        self.unexpected = []

    def run(self):
        while not self.stop.is_set():
            try:
                self.step(self)
                self.ok += 1
            except RuntimeError as e:
                if str(e) not in BORROW_ERRORS:
                    self.unexpected.append(e)
                self.conflicts += 1
                time.sleep(0)  # let the holder of the borrow get on
            except CycleError:
                self.cycles += 1
            except BaseException as e:  # reported by the test
                self.unexpected.append(e)
                return


class Writer:
    """One writer's own scratch nodes and edges, updated only after a call succeeded."""

    def __init__(self, dag, names, tag):
        self.dag, self.names, self.tag = dag, names, tag
        self.nodes, self.edges = [], []
        self.changes = 0  # successful structural calls, for the generation
        self.counter = 0
        self.payloads = []

    def step(self, worker):
        dag, k = self.dag, self.counter
        self.counter += 1
        anchor = self.names[(k * 37) % CHAIN]
        kind = k % 6
        if kind == 0 or not self.nodes:
            name = f"{self.tag}{k}"
            dag.add_node(name, payload=[k])
            self.nodes.append(name)
            self.changes += 1
        elif kind == 1:
            # Attaching a scratch node below the chain closes no cycle.
            edge = (anchor, self.nodes[-1])
            dag.add_edge(*edge)
            self.edges.append(edge)
            self.changes += 1
        elif kind == 2:
            # Refused after a cycle test that walks most of the chain with the lock released.
            dag.add_edge(self.names[-1], self.names[k % 50])
        elif kind == 3 and self.edges:
            dag.remove_edge(*self.edges[-1])
            self.edges.pop()
            self.changes += 1
        elif kind == 4 and len(self.nodes) > 3:
            victim = self.nodes[0]
            dag.remove_node(victim)
            self.nodes.pop(0)
            self.edges = [e for e in self.edges if victim not in e]
            self.changes += 1
        else:
            payload = object()
            dag[anchor] = payload
            dag.set_metadata(anchor, payload)
            self.payloads.append(payload)


class Reader:
    """Long reads, most of them with the interpreter lock released."""

    def __init__(self, dag, names, other, path):
        self.dag, self.names, self.other, self.path = dag, names, other, path
        self.cached_reads = 0
        self.counter = 0

    def step(self, worker):
        dag, names, k = self.dag, self.names, self.counter
        self.counter += 1
        kind = k % 5
        if kind == 0:
            assert dag.validate() is True
            assert len(dag.ancestors(names[-1])) == CHAIN - 1  # nothing is added above
        elif kind == 1:
            order = dag.topological_sort()
            self.cached_reads += 1
            where = {n.name: i for i, n in enumerate(order)}
            assert all(where[names[i]] < where[names[i + 1]] for i in range(0, CHAIN - 1, 97))
        elif kind == 2:
            levels = dag.topological_levels()
            self.cached_reads += 1
            assert levels[0][0].name == names[0]
        elif kind == 3:
            # Python code inside a shared borrow: the callback reads the same graph.
            text = dag.to_json(lambda payload: dag.node_count() and None)
            assert json.loads(text)["nodes"][0]["name"] == names[0]
        else:
            dag.save(self.path)  # writes with the lock released
            dag.diff(self.other)


def test_mixed_readers_and_writers_on_shared_graphs(tmp_path):
    readers, writers = 4, 2  # per graph
    graphs = [permanent_graph() for _ in range(2)]
    start_generations = [g.generation for g, _ in graphs]
    stop = threading.Event()
    writer_states, reader_states, workers = [], [], []
    for g, (dag, names) in enumerate(graphs):
        other = graphs[1 - g][0]
        for w in range(writers):
            state = Writer(dag, names, f"w{g}{w}_")
            writer_states.append((g, state))
            workers.append(Worker(state.step, stop))
        for r in range(readers):
            state = Reader(dag, names, other, str(tmp_path / f"g{g}r{r}.bin"))
            reader_states.append((g, state))
            workers.append(Worker(state.step, stop))
    for w in workers:
        w.start()
    time.sleep(RUN_SECONDS)
    stop.set()
    for w in workers:
        w.join(timeout=60)
    assert not [w for w in workers if w.is_alive()], "a worker is stuck"
    assert not [e for w in workers for e in w.unexpected]

    total = lambda attr: sum(getattr(w, attr) for w in workers)
    assert total("ok") > 0 and total("conflicts") > 0 and total("cycles") > 0

    for g, (dag, names) in enumerate(graphs):
        mine = [s for k, s in writer_states if k == g]
        scratch = [n for s in mine for n in s.nodes]
        assert sorted(dag.node_names()) == sorted(names + scratch)
        chain_edges = [(names[i], names[i + 1]) for i in range(CHAIN - 1)] + \
            [(names[i], names[i + 7]) for i in range(0, CHAIN - 7, 5)]
        assert sorted(dag.edges()) == sorted(chain_edges + [e for s in mine for e in s.edges])
        assert dag.generation == start_generations[g] + sum(s.changes for s in mine)
        assert dag.validate() is True
        assert is_topo_order(dag, dag.topological_sort())
        assert is_topo_order(dag, dag.topological_sort_dfs())
        assert sum(len(level) for level in dag.topological_levels()) == len(dag)
        # Every successful cached read counted exactly once (the three above included).
        info = dag.cache_info()
        reads = sum(s.cached_reads for k, s in reader_states if k == g)
        assert info["hits"] + info["misses"] == reads + 3

    # The graphs die with the test's last references: every payload they held goes back.
    payloads = [p for _, s in writer_states for p in s.payloads]
    del graphs, writer_states, reader_states, workers, w, dag, mine, other, state
    payloads.append(object())  # never in a graph: the count every payload must be back to
    counts = [sys.getrefcount(p) for p in payloads]
    assert counts == [counts[-1]] * len(counts)
