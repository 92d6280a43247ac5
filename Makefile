# make test        — set up (Debian packages, a venv per runtime), build the wheels, run the
#                    suite on every runtime found (3.13 and 3.11), then on a clang++/libc++
#                    build and under ASan/UBSan
# make wheel       — repaired binary wheels in wheelhouse/, one per runtime found
# make test-clang  — only the clang++/libc++ build and its suite run
# make demo        — the example host on its own virtual desktop
# make bench       — the side-by-side benchmarks
SHELL := /bin/bash
PYTHONS := $(shell tools/pythons 2>/dev/null)
PYTEST_ARGS ?=
ASAN_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libstdc++.so)
version_of = $(shell $(1) -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
first_python := $(firstword $(PYTHONS))

.PHONY: test test-release test-clang test-sanitize wheel setup pythons demo bench
test: test-release test-clang test-sanitize

setup:
	tools/system-packages

# Fails rather than test nothing when no runtime is found.
pythons:
	@tools/pythons >/dev/null

wheel: setup pythons
	@set -e; for python in $(PYTHONS); do \
	  echo "== wheel for $$python"; tools/wheel $$python; \
	done

# The release venvs install the repaired wheels; tests/packaging installs the same wheel
# into fresh venvs.
test-release: setup pythons
	@set -e; for python in $(PYTHONS); do \
	  version=$$($$python -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")'); \
	  echo "== building and testing on CPython $$version ($$python)"; \
	  wheel=$$(tools/wheel $$python); \
	  tools/venv $$python .venv-$$version release; \
	  NEBRIX_WHEEL=$$wheel .venv-$$version/bin/python -m pytest $(PYTEST_ARGS); \
	done

# One runtime is enough to prove the code builds warning-free with clang++ and libc++.
test-clang: setup pythons
	@echo "== clang++/libc++ build and test on $(first_python)"
	tools/venv $(first_python) .venv-clang clang
	NEBRIX_SWEEP_SAMPLE=4 .venv-clang/bin/python -m pytest $(PYTEST_ARGS)

# The sanitizer run uses the first runtime found. libstdc++ is preloaded too: without it
# C++ exceptions abort under ASan.
test-sanitize: setup pythons
	@echo "== ASan/UBSan build and test on $(first_python)"
	tools/venv $(first_python) .venv-sanitize sanitize
	NEBRIX_SWEEP_SAMPLE=4 LD_PRELOAD="$(ASAN_PRELOAD)" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 .venv-sanitize/bin/python -m pytest $(PYTEST_ARGS)

demo: setup pythons
	tools/wheel $(first_python) >/dev/null
	tools/venv $(first_python) .venv-$(call version_of,$(first_python)) release
	.venv-$(call version_of,$(first_python))/bin/python examples/host.py

bench: setup pythons
	tools/wheel $(first_python) >/dev/null
	tools/venv $(first_python) .venv-$(call version_of,$(first_python)) release
	.venv-$(call version_of,$(first_python))/bin/python bench/run_all.py
