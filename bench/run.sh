#!/usr/bin/env bash
# Usage: bench/run.sh [harness options]   (bench/run.sh --help lists them)
# Times torvex against rustworkx, networkx, igraph and graphlib and writes bench/RESULTS.md.
# The peers are installed into the venv here, for the bench only: no test needs them.
#   BENCH_VENV   the venv with torvex installed (default .venv; `make bench` installs it there)
#   BENCH_SIZES  node counts, default 10k,100k; BENCH_SIZES=10k,100k,1m for the full run
#   BENCH_BUDGET seconds one run may take before a library stops repeating it (default 10)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="${BENCH_VENV:-$root/.venv}"
[[ "$venv" == /* ]] || venv="$root/$venv"
python="$venv/bin/python"
[[ -x "$python" ]] || { echo "bench: no Python at $python; run make bootstrap first" >&2; exit 1; }

export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
if ! "$python" -c "import numpy, rustworkx, networkx, igraph" 2>/dev/null; then
  echo "bench: installing numpy, rustworkx, networkx, python-igraph into $venv"
  "$python" -m pip install -q numpy rustworkx networkx python-igraph
fi
"$python" -c "import torvex" 2>/dev/null ||
  { echo "bench: torvex is not installed in $venv; run scripts/wheel.sh first" >&2; exit 1; }

cd "$root/bench"
exec "$python" -m harness "$@"
