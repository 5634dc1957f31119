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

.PHONY: demo test install clean

demo: $(VENV)/.installed
	$(VPY) -m qarvel millsratio -40 -1 0 1 9.5 40 1e8
	$(VPY) -m qarvel millsratio_d1 -5 0 5 50 1e5
	$(VPY) -m qarvel millsratio_d3 -5 0 5 50 1e5
	$(VPY) -m qarvel millsratio_dd --dx 1e-3 -1 0 5 30 1e6
	$(VPY) -m qarvel millsratio_dd_cf --dx 1e-3 --n_terms 8 30 100

test: $(VENV)/.installed
	$(VPY) -m pytest

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
