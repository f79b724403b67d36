#!/usr/bin/env bash
# Everything `make test` checks: the core suite through ctest, then the one abi3 wheel
# installed into every venv, the Python suite run under each, the type information, and the
# C++ sources against .clang-format.
# Runs all stages, so one failure doesn't hide another, and exits non-zero if any failed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
status=0

bash scripts/build.sh build -DTORVEX_BUILD_TESTS=ON || status=1
.venv/bin/ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs" || status=1

shopt -s nullglob
venvs=(.venv .venv-3.*)
if bash scripts/wheel.sh "${venvs[@]}"; then
  bash scripts/pytest.sh || status=1
  bash scripts/typecheck.sh || status=1
else
  status=1
fi

bash scripts/format-check.sh || status=1

if (( status != 0 )); then
  echo "test: FAILED (see above)" >&2
fi
exit "$status"
