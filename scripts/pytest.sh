#!/usr/bin/env bash
# Runs tests/python under .venv and every .venv-3.NN; each must already have the wheel.
# "No tests collected" (pytest's exit code 5) is not a failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

shopt -s nullglob globstar
tests=(tests/python/**/test_*.py tests/python/**/*_test.py)
if (( ${#tests[@]} == 0 )); then
  echo "pytest: tests/python has no tests yet"
  exit 0
fi

status=0
for venv in .venv .venv-3.*; do
  [[ -x "$venv/bin/python" ]] || continue
  echo "pytest: $("$venv/bin/python" -c 'import platform; print("CPython", platform.python_version())') ($venv)"
  rc=0
  "$venv/bin/python" -m pytest tests/python -q || rc=$?
  if (( rc != 0 && rc != 5 )); then
    status=1
  fi
done
exit "$status"
