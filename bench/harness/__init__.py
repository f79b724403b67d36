"""Benchmark harness: torvex against peer DAG libraries (see bench/run.sh)."""
