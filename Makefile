# make demo: see torvex run.  make test: everything CI checks.
# Every target bootstraps first; that is instant once the machine is set up.

.DEFAULT_GOAL := build
SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

NPROC := $(shell nproc 2>/dev/null || echo 2)
VENV := .venv
# Every build uses the venv's CMake and Ninja (Debian 12's CMake is too old for abi3 modules).
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)
export CMAKE_BUILD_PARALLEL_LEVEL := $(NPROC)

.PHONY: bootstrap build test demo sanitize sanitize-python coverage format-check fuzz bench clean distclean

bootstrap:
	@bash scripts/bootstrap.sh

# Core library, core tests and C++ examples in build/.
build: bootstrap
	@bash scripts/build.sh build -DTORVEX_BUILD_TESTS=ON

test: bootstrap
	@bash scripts/test.sh

# Only what the demo runs: the build tools and the wheel (core and module); the test tools,
# further interpreters and the C++ tests are left to `make test`.
demo:
	@bash scripts/bootstrap.sh demo
	@bash scripts/wheel.sh $(VENV)
	$(VENV)/bin/python examples/quickstart.py
	@echo
	$(VENV)/bin/python examples/build_pipeline.py

# Core tests under AddressSanitizer and UBSan, in their own tree.
sanitize: bootstrap
	@bash scripts/build.sh build-asan -DTORVEX_SANITIZE=ON -DTORVEX_BUILD_TESTS=ON \
	  -DTORVEX_BUILD_EXAMPLES=OFF
	ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1 \
	  $(VENV)/bin/ctest --test-dir build-asan --no-tests=error --output-on-failure -j $(NPROC)

# The module under AddressSanitizer and UBSan (its own wheel build), and the Python suite
# run with the sanitizer runtime preloaded into the interpreter.
sanitize-python: bootstrap
	@bash scripts/sanitize-python.sh

# Line coverage of core/src from ctest, and of binding/src and core/src from the Python suite
# against a module built for it, in build-coverage/ (gcc --coverage, reported with gcovr).
coverage: bootstrap
	@bash scripts/coverage.sh

# Whether every C++ source is as clang-format (.clang-format) would write it; changes nothing.
format-check: bootstrap
	@bash scripts/format-check.sh

# libFuzzer targets of tests/fuzz (clang, ASan and UBSan) in build-fuzz/: each replays its
# corpus, then runs FUZZ_SECONDS on new inputs. FUZZ_TARGETS picks some of them.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS ?=
fuzz: bootstrap
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(FUZZ_TARGETS)

bench: build
	@if [[ -f bench/run.sh ]]; then \
	  bash scripts/wheel.sh $(VENV) && bash bench/run.sh; \
	else \
	  echo "bench: no bench/run.sh yet"; \
	fi

clean:
	rm -rf build build-asan build-fuzz build-asan-python build-coverage

# Also drops the virtual environments; the next target recreates them.
distclean: clean
	rm -rf $(VENV) $(VENV)-3.*
