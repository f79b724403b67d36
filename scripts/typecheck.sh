#!/usr/bin/env bash
# The shipped type information checked against the built module (stubtest), and the examples
# type-checked in strict mode against that same information. Needs the wheel in .venv.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

status=0
echo "typecheck: stubtest torvex._internal"
.venv/bin/python -m mypy.stubtest torvex._internal || status=1
echo "typecheck: mypy --strict examples/"
.venv/bin/python -m mypy --strict --cache-dir build/mypy-cache examples || status=1
exit "$status"
