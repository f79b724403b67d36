#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [TARGET...]   (default: every tests/fuzz/*_fuzz.cpp)
# Builds the libFuzzer targets with clang under ASan and UBSan in build-fuzz/, then runs each
# in turn: first over its seed corpus (tests/fuzz/corpus/TARGET) and whatever earlier runs kept
# (build-fuzz/corpus/TARGET), then on new inputs for FUZZ_SECONDS (default 30). TARGET.dict and
# TARGET.options (libFuzzer flags, one a line) beside the source are used when present.
# A failing input is saved under build-fuzz/artifacts/; reproduce it with
#   build-fuzz/tests/fuzz/TARGET build-fuzz/artifacts/TARGET-crash-...
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds="${FUZZ_SECONDS:-30}"
dir=build-fuzz
bin="$PWD/.venv/bin"

# ---- clang with libFuzzer and the sanitizer runtimes ---------------------------------------

can_build_fuzzer() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local probe
  probe="$(mktemp -d)"
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    > "$probe/probe.cpp"
  local status=0
  clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
    >/dev/null 2>&1 || status=1
  rm -rf "$probe"
  return "$status"
}

if ! can_build_fuzzer; then
  # Debian's default clang and its runtime libraries (libFuzzer lives in libclang-rt-N-dev).
  packages=(clang libclang-rt-dev)
  if [[ $EUID -ne 0 ]]; then
    echo "fuzz: clang with libFuzzer is missing: install the Debian packages ${packages[*]} as root" >&2
    exit 1
  fi
  echo "fuzz: apt-get install ${packages[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}" >/dev/null
  can_build_fuzzer || { echo "fuzz: clang still cannot link a fuzzer" >&2; exit 1; }
fi

# ---- build -------------------------------------------------------------------------------------

bash scripts/build.sh "$dir" -DCMAKE_CXX_COMPILER=clang++ -DTORVEX_BUILD_FUZZ=ON \
  -DTORVEX_BUILD_TESTS=OFF -DTORVEX_BUILD_EXAMPLES=OFF -DTORVEX_BUILD_BINDING=OFF

if (( $# == 0 )); then
  for source in tests/fuzz/*_fuzz.cpp; do
    name="${source##*/}"
    set -- "$@" "${name%.cpp}"
  done
fi

# ---- run ---------------------------------------------------------------------------------------

# Leaks fail the run too; UBSan reports come with a stack.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
mkdir -p "$dir/artifacts" "$dir/logs"
passed=0
failed=0
for target in "$@"; do
  exe="$dir/tests/fuzz/$target"
  corpus="$dir/corpus/$target"
  log="$dir/logs/$target.log"
  mkdir -p "$corpus"
  flags=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
         -artifact_prefix="$dir/artifacts/$target-")
  [[ -f "tests/fuzz/$target.dict" ]] && flags+=(-dict="tests/fuzz/$target.dict")
  if [[ -f "tests/fuzz/$target.options" ]]; then
    while read -r flag; do
      [[ -z "$flag" || "$flag" == \#* ]] || flags+=("$flag")
    done < "tests/fuzz/$target.options"
  fi
  seeds=()
  [[ -d "tests/fuzz/corpus/$target" ]] && seeds=("tests/fuzz/corpus/$target")

  echo "fuzz: $target for ${seconds}s"
  if "$exe" "${flags[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    coverage="$(grep -o 'cov: [0-9]*' "$log" | tail -n1)"
    echo "fuzz: $target ok: ${runs:-?} inputs, ${coverage:-cov: ?}, corpus $(ls "$corpus" | wc -l) files"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED; the end of $log:" >&2
    tail -n 60 "$log" >&2
    failed=$((failed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
(( failed == 0 ))
