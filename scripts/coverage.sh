#!/usr/bin/env bash
# Line coverage (gcc --coverage, TORVEX_COVERAGE) in build-coverage/, measured twice:
#   - the core suite through ctest, in its own tree (build-coverage/ctest): core/src;
#   - the Python suite against a module built with coverage (build-coverage/wheel, unpacked
#     into build-coverage/site and put first on the path, so the venvs keep their ordinary
#     module): binding/src and core/src.
# Prints the core from ctest alone, the binding, and the core lines only Python reaches.
# gcovr goes into .venv here, so that `make test` doesn't pay for it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

dir=build-coverage
export PATH="$PWD/.venv/bin:$PATH"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
jobs="$CMAKE_BUILD_PARALLEL_LEVEL"
status=0

if ! .venv/bin/gcovr --version >/dev/null 2>&1; then
  echo "coverage: installing gcovr into .venv"
  .venv/bin/python -m pip install -q "gcovr>=8,<9"
fi

# Writes the per-line counts of the objects under $1 for the sources matching $2 to $3.
line_counts() {
  .venv/bin/gcovr --root . --filter "$2" --json "$3" -j "$jobs" "$1"
}

# ---- the core suite ------------------------------------------------------------------------

echo "coverage: the core suite"
bash scripts/build.sh "$dir/ctest" -DTORVEX_COVERAGE=ON -DTORVEX_BUILD_TESTS=ON \
  -DTORVEX_BUILD_EXAMPLES=OFF
find "$dir/ctest" -name '*.gcda' -delete
.venv/bin/ctest --test-dir "$dir/ctest" --no-tests=error --output-on-failure -j "$jobs" ||
  status=1
line_counts "$dir/ctest" 'core/src/' "$dir/ctest.json"

# ---- the Python suite ----------------------------------------------------------------------

echo "coverage: the Python suite"
rm -rf "$dir/dist" "$dir/site"
.venv/bin/python -m pip wheel . --no-build-isolation --no-deps -q -w "$dir/dist" \
  -C build-dir="$dir/wheel" -C cmake.define.TORVEX_COVERAGE=ON
wheels=("$dir"/dist/torvex-*.whl)
.venv/bin/python -m pip install -q --no-deps --target "$dir/site" "${wheels[0]}"
find "$dir/wheel" -name '*.gcda' -delete

module="$(PYTHONPATH="$PWD/$dir/site" .venv/bin/python -c \
  'import torvex._internal as m; print(m.__file__)')"
[[ "$module" == "$PWD/$dir/site/"* ]] || {
  echo "coverage: imported $module, not the instrumented module" >&2
  exit 1
}
PYTHONPATH="$PWD/$dir/site" .venv/bin/python -m pytest tests/python -q -p no:cacheprovider ||
  status=1
line_counts "$dir/wheel" '(core|binding)/src/' "$dir/python.json"

# ---- figures -------------------------------------------------------------------------------

.venv/bin/python - "$dir/ctest.json" "$dir/python.json" <<'PY'
import json
import sys


def lines(path):
    """{(file, line): reached} for every source line gcov counts (once, whatever the
    functions or template instances on it)."""
    reached = {}
    for record in json.load(open(path))["files"]:
        for line in record["lines"]:
            if line.get("gcovr/excluded") or line.get("gcovr/noncode"):
                continue
            key = (record["file"], line["line_number"])
            reached[key] = reached.get(key, False) or line["count"] > 0
    return reached


def share(reached, prefix):
    keys = [key for key in reached if key[0].startswith(prefix)]
    hit = sum(reached[key] for key in keys)
    return f"{100 * hit / max(len(keys), 1):5.1f}% ({hit} of {len(keys)} lines)"


ctest, python = lines(sys.argv[1]), lines(sys.argv[2])
core = {key for key in ctest.keys() | python.keys() if key[0].startswith("core/src/")}
only_python = sorted(key for key in core if python.get(key) and not ctest.get(key))
both = {key: ctest.get(key, False) or python.get(key, False) for key in core}
print(f"coverage: core/src from ctest alone   {share(ctest, 'core/src/')}")
print(f"coverage: binding/src from Python     {share(python, 'binding/src/')}")
print(f"coverage: core/src from Python        {share(python, 'core/src/')}")
print(f"coverage: core/src from either        {share(both, 'core/src/')}")
print(f"coverage: core/src lines only Python reaches: {len(only_python)}")
files = {}
for name, _ in only_python:
    files[name] = files.get(name, 0) + 1
for name, count in sorted(files.items(), key=lambda item: -item[1])[:10]:
    print(f"coverage:   {count:5d}  {name}")
PY

echo "coverage: per-line counts in $dir/ctest.json and $dir/python.json"
if (( status != 0 )); then
  echo "coverage: a suite FAILED (see above); the figures count what ran" >&2
fi
exit "$status"
