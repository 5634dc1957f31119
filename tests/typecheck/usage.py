"""Checked by mypy (tests/test_typing.py), never run: what the stubs promise."""

from typing import assert_type

import numpy as np
import numpy.typing as npt

import qarvel
from qarvel import mills, relmeans, symdiff, ufuncs

Array = npt.NDArray[np.float64]

assert_type(mills.millsratio(0.5), float)
assert_type(mills.millsratio(1), float)
assert_type(mills.millsratio([0.5, 1.0]), Array)
assert_type(mills.millsratio(np.linspace(0, 1, 5)), Array)
assert_type(mills.millsratio_d1(2.0), float)
assert_type(mills.millsratio_d3(np.ones((2, 2))), Array)
assert_type(mills.millsratio_rel_below1(0.25), float)

assert_type(symdiff.millsratio_dd(5.0, 0.1), float)
assert_type(symdiff.millsratio_dd(5.0, 0.1, theta=-1), float)
assert_type(symdiff.millsratio_dd(np.ones(3), 0.1), Array)
assert_type(symdiff.millsratio_dd_cf([30.0, 40.0], 1e-3, n_terms=8), Array)

assert_type(relmeans.logrel(1e-10), float)
assert_type(relmeans.logrel(np.ones(4)), Array)
assert_type(relmeans.powrel(0.5, 2.0), float)
assert_type(relmeans.powrel(np.ones(4), [[1.0], [2.0]]), Array)

assert_type(qarvel.get_include(), str)
assert_type(qarvel.mills.millsratio(0.0), float)

assert_type(ufuncs.millsratio, np.ufunc)
assert_type(ufuncs.millsratio_dd, np.ufunc)
assert_type(ufuncs.powrel.nin, int)
ufuncs.millsratio(np.ones(3), out=np.empty(3))
ufuncs.millsratio_dd_cf(np.ones(3), 1e-3, 4)
