"""A downstream extension module, built in a temporary directory against the
installed package only, cimports every C-level kernel of qarvel, calls them
without the interpreter lock and gets the Python functions' results bit for
bit."""

import math
import os
import shutil
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import helpers as h
import qarvel
from qarvel import mills, relmeans, symdiff

CONSUMER = """\
# cython: language_level=3, boundscheck=False, wraparound=False
from qarvel.mills cimport _R, _R1, _R3, _R013_CF, _Rrel_below1
from qarvel.symdiff cimport _R_DD, _R_DD_CF
from qarvel.relmeans cimport _logrel, _powrel

KERNELS = ("_R", "_R1", "_R3", "_R013_CF", "_Rrel_below1", "_R_DD", "_R_DD_CF", "_logrel", "_powrel")


def apply(str name, const double[::1] x, const double[::1] y, int k, int d):
    cdef int which = KERNELS.index(name)
    cdef Py_ssize_t i, n = x.shape[0]
    cdef double[::1] out = memoryview(bytearray(8 * n)).cast("d")
    with nogil:
        for i in range(n):
            if which == 0: out[i] = _R(x[i])
            elif which == 1: out[i] = _R1(x[i])
            elif which == 2: out[i] = _R3(x[i])
            elif which == 3: out[i] = _R013_CF(x[i], k, d)
            elif which == 4: out[i] = _Rrel_below1(x[i])
            elif which == 5: out[i] = _R_DD(x[i], y[i], k)
            elif which == 6: out[i] = _R_DD_CF(x[i], y[i], k)
            elif which == 7: out[i] = _logrel(x[i])
            else: out[i] = _powrel(x[i], y[i])
    return list(out)
"""


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    tmp = tmp_path_factory.mktemp("consumer")
    site = os.path.dirname(qarvel.get_include())   # where the installed package lives
    inc = qarvel.get_include()
    (tmp / "consumer.pyx").write_text(CONSUMER)
    cython = shutil.which("cython", path=os.path.dirname(sys.executable))
    subprocess.run([cython, "--cplus", "-I", site, "consumer.pyx", "-o", "consumer.cpp"],
                   cwd=tmp, check=True)
    so = "consumer" + sysconfig.get_config_var("EXT_SUFFIX")
    # the kernels are compiled into the consumer, with the rounding flags of qarvel's own build
    subprocess.run([os.environ.get("CXX", "g++"), "-std=c++17", "-O2", "-ffp-contract=off", "-shared",
                    "-fPIC", f"-I{inc}", f"-I{sysconfig.get_paths()['include']}", "consumer.cpp",
                    os.path.join(inc, "_kernels", "mills.cpp"), os.path.join(inc, "_kernels", "symdiff.cpp"),
                    "-o", so], cwd=tmp, check=True)
    sys.path.insert(0, str(tmp))
    try:
        import consumer
    finally:
        sys.path.remove(str(tmp))
    return consumer


ANY_X = [0.0, -0.0, 0.3, 1.0, 1.0000000000000002, 5.0, 9.5, 30.0, 700.0, 6.7e7, 1e300,
         -0.5, -5.0, -37.0, -40.0, math.inf, -math.inf, math.nan]
UNIT_X = [0.0, 0.1, 0.5, 1 / 12, 0.99, 1.0]
REL_X = [-0.999, -0.5, 0.0, 1e-300, 1e-10, 0.5, 3.0, 1e10, math.inf, math.nan]

CASES = [
    ("_R", ANY_X, None, mills.millsratio),
    ("_R1", ANY_X, None, mills.millsratio_d1),
    ("_R3", ANY_X, None, mills.millsratio_d3),
    ("_Rrel_below1", UNIT_X, None, mills.millsratio_rel_below1),
    ("_R_DD", ANY_X, 1e-3, lambda x, y, k: symdiff.millsratio_dd(x, y, k)),
    ("_R_DD", ANY_X, 2.5, lambda x, y, k: symdiff.millsratio_dd(x, y, k)),
    ("_R_DD_CF", ANY_X, 0.1, lambda x, y, k: symdiff.millsratio_dd_cf(x, y, k)),
    ("_logrel", REL_X, None, relmeans.logrel),
    ("_powrel", REL_X, 2.5, relmeans.powrel),
    ("_powrel", REL_X, -0.5, relmeans.powrel),
]


@pytest.mark.parametrize("name, xs, y, python", CASES, ids=[f"{c[0]}-{c[2]}" for c in CASES])
def test_kernel_matches_python_function(consumer, name, xs, y, python):
    x = np.array(xs)
    ys = np.full_like(x, y if y is not None else 0.0)
    params = [(-1, 0), (1, 0), (8, 0)] if name in ("_R_DD", "_R_DD_CF") else [(0, 0)]
    for k, _ in params:
        got = consumer.apply(name, x, ys, k, 0)
        if name in ("_R_DD", "_R_DD_CF"):
            want = python(x, ys, k)
        elif y is not None:
            want = python(x, ys)
        else:
            want = python(x)
        assert h.bits_array(got) == h.bits_array(want)


def test_continued_fraction_entry(consumer):
    cf = h.Kernels("qarvel.mills").entry("qarvel_MillsRatio_CF", 1, ints=2)
    x = np.array([0.5, 9.5, 30.0, 1e4])
    for n, d in [(2, 0), (4, 1), (12, 3), (7, 0)]:
        arg = x if d == 0 else x * x + 3
        got = consumer.apply("_R013_CF", arg, arg, n, d)
        assert got == [cf(v, n, d) for v in arg]
