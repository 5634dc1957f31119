"""The kernels of qarvel as NumPy ufuncs."""

import numpy as np

millsratio: np.ufunc
millsratio_d1: np.ufunc
millsratio_d3: np.ufunc
millsratio_rel_below1: np.ufunc
millsratio_dd: np.ufunc
millsratio_dd_cf: np.ufunc
logrel: np.ufunc
powrel: np.ufunc
