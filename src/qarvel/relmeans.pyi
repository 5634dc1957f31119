"""Numerically stable relative functions: log(1 + x)/x and ((1 + x)^a - 1)/(a x)."""

from typing import overload

import numpy as np
import numpy.typing as npt

@overload
def logrel(x: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def logrel(x: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
@overload
def powrel(x: float, a: float) -> float: ...  # type: ignore[overload-overlap]
@overload
def powrel(x: npt.ArrayLike, a: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
