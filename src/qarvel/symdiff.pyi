"""Symmetric divided differences of the Mills ratio R(x) = N(-x)/n(x)."""

from typing import overload

import numpy as np
import numpy.typing as npt

# Two Python numbers give a float; otherwise a float64 array of the
# broadcast shape of x and dx.
@overload
def millsratio_dd(x: float, dx: float, theta: int = 1) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio_dd(x: npt.ArrayLike, dx: npt.ArrayLike, theta: int = 1) -> npt.NDArray[np.float64]: ...
@overload
def millsratio_dd_cf(x: float, dx: float, n_terms: int = 4) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio_dd_cf(x: npt.ArrayLike, dx: npt.ArrayLike, n_terms: int = 4) -> npt.NDArray[np.float64]: ...
