#!/usr/bin/env bash
# The shipped type information checked against the built module (stubtest), and the examples
# and tests/typing type-checked in strict mode against that same information (strict mode
# also reports a `type: ignore` that is not needed, which is how tests/typing marks the calls
# that must be refused). Needs the wheel in .venv.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

status=0
echo "typecheck: stubtest torvex._internal"
.venv/bin/python -m mypy.stubtest torvex._internal || status=1
echo "typecheck: mypy --strict examples/ tests/typing/"
.venv/bin/python -m mypy --strict --cache-dir build/mypy-cache examples tests/typing || status=1
exit "$status"
