# Set-up and run targets.  Each creates its own virtual environment and
# installs what it needs from the package index.
PYTHON ?= python3.11
VENV ?= .venv
PY := $(VENV)/bin/python
BUILD ?= build/dev
export ZZ_WERROR ?= ON

.PHONY: demo test dev dev-test clean

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip

# Installs the package (building the extension) with the test extras.
install: $(VENV)/bin/python
	$(PY) -m pip install -q ".[test]"

demo: install
	$(PY) examples/demo.py

test: install
	$(PY) -m pytest -q tests

# Incremental developer build: modules land in $(BUILD)/brevant.
dev: $(VENV)/bin/python
	$(PY) -m pip install -q jinja2 pytest hypothesis
	cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DZZ_WERROR=$(ZZ_WERROR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)

dev-test: dev
	PYTHONPATH=$(BUILD) $(PY) -m pytest -q tests

clean:
	rm -rf build dist $(VENV)
