# Set-up and run targets.  Each creates its own virtual environment and
# installs what it needs from the package index.
PYTHONS := $(shell scripts/pythons.sh)
PYTHON ?= $(firstword $(PYTHONS))
VENV ?= .venv
PY := $(VENV)/bin/python
BUILD ?= build/dev
export ZZ_WERROR ?= ON

.PHONY: demo test test-one dev dev-test test-asan bench clean

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip

# The main job: the typical road end to end with the stand-in runtime.
demo: $(VENV)/bin/python
	$(PY) -m pip install -q .
	$(PY) examples/demo.py

# The suite on every supported CPython found here, each in its own venv
# (.venv for the default interpreter, .venv-3.X for the others).
test:
	@set -e; for py in $(PYTHONS); do \
	    v=$$($$py -c 'import sys; print("%d.%d" % sys.version_info[:2])'); \
	    venv=.venv-$$v; [ "$$py" = "$(PYTHON)" ] && venv=$(VENV); \
	    echo "== CPython $$v ($$venv)"; \
	    $(MAKE) --no-print-directory test-one PYTHON=$$py VENV=$$venv; \
	done

test-one: $(VENV)/bin/python
	$(PY) -m pip install -q ".[test]"
	$(PY) -m pytest -q -p no:cacheprovider tests

# Incremental developer build: modules land in $(BUILD)/brevant.
dev: $(VENV)/bin/python
	$(PY) -m pip install -q jinja2 pytest hypothesis cmake ninja
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DZZ_WERROR=$(ZZ_WERROR) \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build $(BUILD)

dev-test: dev
	PYTHONPATH=$(BUILD) $(PY) -m pytest -q tests

# The whole suite against an AddressSanitizer + UBSan build of the modules.
# Python's own allocations are excluded from leak reports (tests/leak checks
# cover reference leaks); everything else must be clean.
test-asan:
	$(MAKE) --no-print-directory dev BUILD=build/asan CMAKE_ARGS="-DZZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
	PYTHONPATH=build/asan PYTHONMALLOC=malloc \
	    LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
	    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    $(PY) -m pytest -q -p no:cacheprovider --ignore=tests/packaging tests

# The benchmark suite: each operation timed against a plain-Python baseline
# (pyperf), then the side-by-side table with ratios and targets.  Not a test:
# a missed target fails nothing.  BENCH_ARGS go to benchmarks/run.py.
bench: $(VENV)/bin/python
	$(PY) -m pip install -q . pyperf
	$(PY) benchmarks/run.py $(BENCH_ARGS)

clean:
	rm -rf build dist $(VENV) .venv-*
