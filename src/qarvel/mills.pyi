"""Mills ratio R(x) = N(-x)/n(x), -R'(x), -R'''(x), plus (sqrt(pi/2) - R(x))/x on [0, 1]."""

from typing import overload

import numpy as np
import numpy.typing as npt

# A Python number (or NumPy scalar, or 0-d array) gives a float; anything
# else NumPy converts gives a float64 array of its shape.
@overload
def millsratio(x: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio(x: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
@overload
def millsratio_d1(x: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio_d1(x: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
@overload
def millsratio_d3(x: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio_d3(x: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
@overload
def millsratio_rel_below1(x: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def millsratio_rel_below1(x: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
