#!/usr/bin/env bash
# Usage: scripts/build.sh DIR [CMAKE_OPTION...]
# Configures DIR with the venv's CMake and Ninja (only when it has no build.ninja yet: later
# CMakeLists changes and new source files are picked up by the build itself), then builds.
# Keeps going past a failing target so one broken test file doesn't hide the others.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

dir="$1"; shift
bin="$PWD/.venv/bin"
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"

if [[ ! -f "$dir/build.ninja" ]]; then
  "$bin/cmake" -S . -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$bin/ninja" "$@"
fi
"$bin/cmake" --build "$dir" -j "$jobs" -- -k 0
