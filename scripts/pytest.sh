#!/usr/bin/env bash
# Runs tests/python under .venv and every .venv-3.NN; each must already have the wheel.
# A missing or empty suite fails (pytest exits 4 or 5), as any other failure does.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

shopt -s nullglob
status=0
for venv in .venv .venv-3.*; do
  [[ -x "$venv/bin/python" ]] || { echo "pytest: $venv has no interpreter" >&2; status=1; continue; }
  echo "pytest: $("$venv/bin/python" -c 'import platform; print("CPython", platform.python_version())') ($venv)"
  "$venv/bin/python" -m pytest tests/python -q || status=1
done
exit "$status"
