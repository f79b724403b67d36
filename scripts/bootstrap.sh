#!/usr/bin/env bash
# Usage: scripts/bootstrap.sh [full|demo]   (default: full)
# Puts in place what building and testing torvex needs, and nothing more:
#   - Debian packages (installed when run as root and something is missing),
#   - .venv on the lowest CPython >= 3.12 found, with the build and test tools,
#   - .venv-3.NN for every other CPython minor >= 3.12, with the test tools only,
#     so the one abi3 module is tested under each.
# `demo` sets up only what building the module and running the examples need: the packages
# the build needs and .venv with the build tools. A later full run adds the rest.
# A stamp in .venv makes a repeated run return at once.
set -euo pipefail

mode="${1:-full}"
[[ "$mode" == full || "$mode" == demo ]] || { echo "usage: $0 [full|demo]" >&2; exit 2; }

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

venv=.venv
stamp="$venv/.bootstrap-stamp"
build_requirements=("scikit-build-core>=0.10" "cmake>=3.26" "ninja>=1.10")
# mypy is pinned: its stub checks change between releases. paula: a binding of the regex crate
# 1.12.3 (regex-syntax 0.8.10, Unicode 16.0), the oracle of the regex dialect's differential test.
test_requirements=(pytest hypothesis "mypy==2.4.1" "paula==1.0.5" numpy "pydot==4.0.1")
# Reruns after this script changes, so a new requirement reaches existing checkouts.
fingerprint="$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)"

# The stamp's first line: the fingerprint and the mode that was set up (a full set-up serves
# the demo too); then one line per further venv.
stamp_is_current() {
  [[ -f "$stamp" && -x "$venv/bin/python" ]] || return 1
  local first
  first="$(head -n1 "$stamp")"
  [[ "$first" == "$fingerprint full" || "$first" == "$fingerprint $mode" ]] || return 1
  local other
  while read -r other; do
    [[ -x "$other/bin/python" ]] || return 1
  done < <(tail -n +2 "$stamp")
}

if stamp_is_current; then
  exit 0
fi

say() { echo "bootstrap: $*" >&2; }
die() { say "$*"; exit 1; }

# ---- Debian packages -------------------------------------------------------

apt_updated=0
apt_update_once() {
  if (( ! apt_updated )); then
    say "apt-get update"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null
    apt_updated=1
  fi
}

is_installed() { dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed'; }

boost_package() {
  # unordered_flat_map needs Boost >= 1.81: a versioned package on Debian 12, the default on 13.
  if [[ "$(cut -d. -f1 /etc/debian_version 2>/dev/null)" == 12 ]] ||
     grep -q bookworm /etc/debian_version 2>/dev/null; then
    echo libboost1.81-dev
  else
    echo libboost-dev
  fi
}

# What the module's build needs; then the tests' and checks' own: GoogleTest, Graphviz (DOT
# output is read back with dot), clang-format, and unicode-data, the Unicode Character Database
# that the regex tables are generated from and compared with.
packages=(g++ pkg-config libre2-dev libxxhash-dev)
if [[ "$mode" == full ]]; then
  packages+=(ninja-build libgtest-dev graphviz clang-format unicode-data)
fi
missing=()
for package in "${packages[@]}"; do
  is_installed "$package" || missing+=("$package")
done
[[ -f /usr/include/boost/unordered/unordered_flat_map.hpp ]] || missing+=("$(boost_package)")

install_packages() {
  (( $# )) || return 0
  if [[ $EUID -ne 0 ]]; then
    die "missing Debian packages: $*; install them as root (or run this script as root)"
  fi
  apt_update_once
  say "apt-get install $*"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}
install_packages "${missing[@]}"

# ---- Python interpreters ---------------------------------------------------

# Prints "MINOR PATH" for a working CPython >= 3.12, nothing otherwise. pyenv shims on PATH
# exist for versions that are not active and fail when run, hence the real executable.
probe() {
  "$1" - <<'PY' 2>/dev/null || true
import os, sys
if sys.implementation.name == "cpython" and sys.version_info >= (3, 12):
    print(sys.version_info[1], os.path.realpath(sys.executable))
PY
}

declare -A by_minor=()
candidates=()
for name in python3.12 python3.13 python3.14 python3; do
  if command -v "$name" >/dev/null 2>&1; then candidates+=("$(command -v "$name")"); fi
done
shopt -s nullglob
candidates+=(/root/.pyenv/versions/3.1[2-9]*/bin/python3 /usr/bin/python3.1[2-9])
shopt -u nullglob

for candidate in "${candidates[@]}"; do
  [[ -x "$candidate" ]] || continue
  read -r minor path < <(probe "$candidate") || continue
  if [[ -n "${minor:-}" && -z "${by_minor[$minor]:-}" ]]; then by_minor[$minor]="$path"; fi
done

(( ${#by_minor[@]} )) || die "no CPython >= 3.12 found (looked at python3.12..3.14, python3, pyenv, /usr/bin)"
minors=($(printf '%s\n' "${!by_minor[@]}" | sort -n))

# The demo uses the first interpreter only.
if [[ "$mode" == demo ]]; then minors=("${minors[0]}"); fi

# Debian's own interpreters need their -dev and -venv packages for headers and ensurepip.
debian_python_packages=()
for minor in "${minors[@]}"; do
  if [[ "${by_minor[$minor]}" == /usr/bin/* ]]; then
    for package in "python3.$minor-dev" "python3.$minor-venv"; do
      is_installed "$package" || debian_python_packages+=("$package")
    done
  fi
done
install_packages "${debian_python_packages[@]}"

# ---- virtual environments --------------------------------------------------

# Creates $1 with interpreter $2 unless it already runs that interpreter's minor version.
make_venv() {
  local dir="$1" python="$2" minor="$3"
  if [[ -x "$dir/bin/python" ]] &&
     [[ "$("$dir/bin/python" -c 'import sys; print(sys.version_info[1])' 2>/dev/null)" == "$minor" ]]; then
    return 0
  fi
  say "creating $dir with $python"
  rm -rf "$dir"
  "$python" -m venv "$dir"
}

pip_install() {
  local dir="$1"; shift
  PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1 \
    "$dir/bin/python" -m pip install -q "$@"
}

rm -f "$stamp"
main_minor="${minors[0]}"
make_venv "$venv" "${by_minor[$main_minor]}" "$main_minor"
if [[ "$mode" == demo ]]; then
  say "installing build tools into $venv"
  pip_install "$venv" "${build_requirements[@]}"
else
  say "installing build and test tools into $venv"
  pip_install "$venv" "${build_requirements[@]}" "${test_requirements[@]}"
fi

others=()
for minor in "${minors[@]:1}"; do
  dir=".venv-3.$minor"
  make_venv "$dir" "${by_minor[$minor]}" "$minor"
  say "installing test tools into $dir"
  pip_install "$dir" "${test_requirements[@]}"
  others+=("$dir")
done

{
  echo "$fingerprint $mode"
  if (( ${#others[@]} )); then printf '%s\n' "${others[@]}"; fi
} > "$stamp"
say "ready: $venv (3.$main_minor)${others:+ and ${others[*]}}"
