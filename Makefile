# make test   — set up (Debian packages, a venv per runtime), build, run the suite on
#               every runtime found (3.13 and 3.11), then again under ASan/UBSan
# make demo   — the example host on its own virtual desktop
# make bench  — the side-by-side benchmarks
SHELL := /bin/bash
PYTHONS := $(shell tools/pythons)
PYTEST_ARGS ?=
ASAN_PRELOAD = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libstdc++.so)
version_of = $(shell $(1) -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
first_python := $(firstword $(PYTHONS))

.PHONY: test test-release test-sanitize setup demo bench
test: test-release test-sanitize

setup:
	tools/system-packages

test-release: setup
	@set -e; for python in $(PYTHONS); do \
	  version=$$($$python -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")'); \
	  echo "== building and testing on CPython $$version ($$python)"; \
	  tools/venv $$python .venv-$$version; \
	  .venv-$$version/bin/python -m pytest $(PYTEST_ARGS); \
	done

# The sanitizer run uses the first runtime found. libstdc++ is preloaded too: without it
# C++ exceptions abort under ASan.
test-sanitize: setup
	@echo "== ASan/UBSan build and test on $(first_python)"
	tools/venv $(first_python) .venv-sanitize sanitize
	LD_PRELOAD="$(ASAN_PRELOAD)" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 .venv-sanitize/bin/python -m pytest $(PYTEST_ARGS)

demo: setup
	tools/venv $(first_python) .venv-$(call version_of,$(first_python))
	.venv-$(call version_of,$(first_python))/bin/python examples/host.py

bench: setup
	tools/venv $(first_python) .venv-$(call version_of,$(first_python))
	.venv-$(call version_of,$(first_python))/bin/python bench/run_all.py
