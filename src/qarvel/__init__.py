"""qarvel: special functions of the Gaussian tail, exact to a few units in the
last place of a double.

Modules:
    qarvel.mills     Mills ratio R(x) = N(-x)/n(x), -R'(x), -R'''(x),
                     (sqrt(pi/2) - R(x))/x on [0, 1]
    qarvel.symdiff   symmetric divided differences of R
    qarvel.relmeans  log(1 + x)/x and ((1 + x)^a - 1)/(a x)
    qarvel.ufuncs    all of the above as NumPy ufuncs (float32 and float64
                     loops, out=, where=, no interpreter lock)

``import qarvel`` loads none of them; ``qarvel.mills`` and the like import
on first access.
"""

import importlib
import os

__version__ = "0.1.0"
__all__ = ["get_include", "mills", "symdiff", "relmeans", "ufuncs"]

_SUBMODULES = ("mills", "symdiff", "relmeans", "ufuncs")


def get_include():
    """Directory to put on the include path of an extension module that
    cimports from qarvel (the kernel headers are ``_kernels/*.hpp`` under it,
    the kernel sources ``_kernels/*.cpp`` beside them)."""
    return os.path.dirname(os.path.abspath(__file__))


def __getattr__(name):
    if name in _SUBMODULES:
        return importlib.import_module("." + name, __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
