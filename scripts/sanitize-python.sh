#!/usr/bin/env bash
# The Python suite against the module built with AddressSanitizer and UBSan (TORVEX_SANITIZE).
# The wheel is built in its own tree, build-asan-python/, and unpacked there rather than into
# a venv, so the venvs keep their ordinary module; the unpacked copy goes first on the path.
# CPython is not instrumented, so the sanitizer runtime is preloaded into it, and leak checks
# are off: the interpreter keeps much of its memory until exit.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

shopt -s nullglob
dir=build-asan-python
export PATH="$PWD/.venv/bin:$PATH"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1

# The runtimes of the compiler that builds the module (CMake's default, as for the wheel).
# The C++ library goes in with ASan: its exception interceptor must find the real __cxa_throw
# when ASan starts, and CPython itself does not load the C++ library.
cxx="${CXX:-c++}"
preload=()
for library in libasan.so libstdc++.so.6; do
  path="$("$cxx" -print-file-name="$library")"
  if [[ "$path" != /* || ! -f "$path" ]]; then
    echo "sanitize-python: $cxx has no $library to preload" >&2
    exit 1
  fi
  preload+=("$path")
done

echo "sanitize-python: building the module with ASan and UBSan"
rm -rf "$dir/dist" "$dir/site"
.venv/bin/python -m pip wheel . --no-build-isolation --no-deps -q -w "$dir/dist" \
  -C build-dir="$dir/wheel" -C cmake.define.TORVEX_SANITIZE=ON
wheels=("$dir"/dist/torvex-*.whl)
[[ -f "${wheels[0]:-}" ]] || { echo "sanitize-python: no wheel in $dir/dist" >&2; exit 1; }
.venv/bin/python -m pip install -q --no-deps --target "$dir/site" "${wheels[0]}"

# allocator_may_return_null: an impossible allocation must reach the module as std::bad_alloc
# (and Python as MemoryError), not stop the process.
run() {
  LD_PRELOAD="${preload[*]}" PYTHONPATH="$PWD/$dir/site" \
  ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:${ASAN_OPTIONS:-}" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    .venv/bin/python "$@"
}
module="$(run -c 'import torvex._internal as m; print(m.__file__)')"
[[ "$module" == "$PWD/$dir/site/"* ]] || {
  echo "sanitize-python: imported $module, not the instrumented module" >&2
  exit 1
}
echo "sanitize-python: $module"

run -m pytest tests/python -q -p no:cacheprovider || {
  echo "sanitize-python: FAILED" >&2
  exit 1
}
