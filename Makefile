# make demo / make test: each sets up .venv (Python 3.13), installs the build
# and test dependencies, builds a wheel of qarvel, installs it, then runs.
# Override the interpreter with `make PYTHON=/path/to/python3.13`.

PYTHON ?= $(shell tools/find-python3.13)
VENV   := .venv
VPY    := $(VENV)/bin/python
WHEELS := build/wheel
# The venv's tools (cython, meson, ninja) come first for the build.
export PATH := $(abspath $(VENV))/bin:$(PATH)
SOURCES := pyproject.toml meson.build $(shell find src -type f -not -name '*.pyc')

.PHONY: demo test bench accuracy install clean

# Each module on points where the textbook formula fails, beside it.
demo: $(VENV)/.installed
	$(VPY) -m qarvel millsratio --naive -40 -1 0 1 9.5 30 40 1e8
	$(VPY) -m qarvel millsratio_d1 --naive -5 0 5 50 1e5
	$(VPY) -m qarvel millsratio_d3 --naive -5 0 5 20 1e3
	$(VPY) -m qarvel millsratio_rel_below1 --naive 1e-9 0.5 1
	$(VPY) -m qarvel millsratio_dd --naive --dx 1e-6 0.5 5 30 1e6
	$(VPY) -m qarvel millsratio_dd_cf --naive --dx 1e-6 --n_terms 8 30 100
	$(VPY) -m qarvel logrel --naive 1e-10 1e-17 0.5
	$(VPY) -m qarvel powrel --naive --a 2.5 1e-12 1e-17 1
	$(VPY) -c "import numpy as np; from qarvel import ufuncs; \
	  x = np.float32([5, 50, 500]); print('ufuncs.millsratio_d1, float32 loop:', ufuncs.millsratio_d1(x), \
	  ' 1 - x R(x) in float32:', np.float32(1) - x * ufuncs.millsratio(x))"

test: $(VENV)/.installed
	$(VPY) -m pytest

# Speed against the formulas users would otherwise write, and the bare C++
# loop; a report, never a failure.
bench: $(VENV)/.installed
	cd benchmarks && ../$(VPY) bench.py

# Error against mpmath of every function and its textbook peer, per regime:
# docs/accuracy.md and docs/accuracy.png (needs matplotlib).
accuracy: $(VENV)/.installed
	$(VPY) -m pip install -q 'matplotlib>=3.8'
	$(VPY) tools/accuracy_report.py

install: $(VENV)/.installed

# Build tools and test dependencies, read from pyproject.toml.
$(VENV)/.deps: pyproject.toml
	@test -n "$(PYTHON)" || { echo "no Python 3.13: make PYTHON=/path/to/python3.13"; exit 1; }
	test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -c "import tomllib; d = tomllib.load(open('pyproject.toml', 'rb')); \
	  print('\n'.join(d['build-system']['requires'] + d['project']['optional-dependencies']['test']))" \
	  > $(VENV)/requirements.txt
	$(VPY) -m pip install -q -r $(VENV)/requirements.txt
	touch $@

# The package as a user installs it: a wheel, built incrementally in
# build/meson, installed into the venv (tests never import from src/).
$(VENV)/.installed: $(VENV)/.deps $(SOURCES)
	rm -rf $(WHEELS)
	$(VPY) -m pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=build/meson -w $(WHEELS) .
	$(VPY) -m pip install -q --force-reinstall --no-deps $(WHEELS)/qarvel-*.whl
	touch $@

clean:
	rm -rf build $(VENV)
