#!/usr/bin/env bash
# Usage: scripts/wheel.sh [VENV...]   (default: .venv)
# Builds the abi3 wheel once (incrementally, in build/wheel) and installs that same file into
# every given venv: the one stable-ABI module must load under each interpreter.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

(( $# )) || set -- .venv
dist=build/dist
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
# The venv's cmake and ninja, never the system's.
export PATH="$PWD/.venv/bin:$PATH"

mkdir -p "$dist"
rm -f "$dist"/torvex-*.whl
# The build's progress ([n/N] lines of Ninja and the build backend's steps) is shown as it goes;
# the whole output is kept in build/wheel.log and shown when the build fails.
echo "wheel: building (full output in build/wheel.log)"
log=build/wheel.log
: > "$log"
status=0
.venv/bin/python -m pip wheel . --no-build-isolation --no-deps -v -w "$dist" > "$log" 2>&1 &
build=$!
tail -n +1 --pid="$build" -f "$log" | grep --line-buffered -E '^ *(\[[0-9]+/[0-9]+\]|\*\*\*) ' |
  sed -u -E 's/^ +//' || true
wait "$build" || status=$?
if (( status != 0 )); then
  cat "$log" >&2
  echo "wheel: build failed (exit $status)" >&2
  exit "$status"
fi
wheels=("$dist"/torvex-*.whl)
[[ -f "${wheels[0]}" ]] || { echo "wheel: no wheel in $dist" >&2; exit 1; }
echo "wheel: ${wheels[0]##*/}"

for venv in "$@"; do
  "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "${wheels[0]}"
done
