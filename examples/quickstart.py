"""A small build pipeline as a torvex graph.

    .venv/bin/python examples/quickstart.py
"""

import torvex


def main() -> None:
    dag = torvex.DAG()

    # Nodes may carry a payload (here: the command that builds them) and metadata.
    refs = dag.add_nodes([
        ("fetch", "git pull"),
        ("configure", "cmake -S . -B build"),
        ("compile", "ninja -C build", {"cpu": 8}),
        ("test", "ctest --test-dir build"),
        ("docs", "sphinx-build docs out"),
        ("package", "cpack"),
    ])
    fetch, configure, compile_, test, docs, package = refs
    dag.add_edges([
        (fetch, configure),
        (configure, compile_),
        (compile_, test, 3.0, "must pass"),
        (fetch, docs),
        (test, package),
        (docs, package),
    ])
    print(dag)

    # A handle keeps working across changes that do not touch its node.
    lint = dag.add_node("lint", "ruff check .")
    dag.add_edge(fetch, lint)
    dag.remove_node(lint)
    print(f"{compile_!r} still resolves: payload {dag.get_payload(compile_)!r},"
          f" metadata {dag.get_metadata(compile_)}")

    # The graph refuses any edge that would close a cycle and names the path it would close.
    try:
        dag.add_edge(package, configure)
    except torvex.CycleError as error:
        print(f"refused: {error}")

    print("build order:", " -> ".join(node.name for node in dag.topological_sort()))
    for depth, level in enumerate(dag.topological_levels()):
        print(f"  level {depth}: {', '.join(node.name for node in level)}")
    print("cache:", dag.cache_info())


if __name__ == "__main__":
    main()
