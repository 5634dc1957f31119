"""Shared test helpers: mpmath references for the Mills ratio and its
derivatives, error measures in units of 2^-52, and ctypes access to the
kernels exported by the extension modules (float instantiations included)."""

import ctypes
import importlib
import math
import struct

import mpmath as mp

DIGITS = 50  # significant digits of every reference value


def _workdps(x, cancel):
    """Working precision for a reference at x: DIGITS, plus the digits that
    exp(x^2/2) needs for its integer part, plus those lost to cancellation
    when the result is x^cancel times smaller than the terms that form it."""
    a = abs(float(x))
    lg = math.log10(a) if a > 1 else 0.0
    return DIGITS + 10 + int((2 + cancel) * lg)


def _R(x):
    # R at the caller's working precision; x an mpf
    if x >= 1e10:
        # asymptotic series sum (-1)^k (2k-1)!! / x^(2k+1); the first omitted
        # term is below 1e-200 relative here (erfc overflows its float
        # estimates for such arguments)
        term, total = 1 / x, mp.mpf(0)
        for k in range(20):
            total += term
            term *= -(2 * k + 1) / (x * x)
        return total
    return mp.sqrt(mp.pi / 2) * mp.erfc(x / mp.sqrt(2)) * mp.exp(x * x / 2)


def R(x):
    """Mills ratio R(x) = sqrt(pi/2) erfc(x/sqrt 2) exp(x^2/2), as an mpf."""
    with mp.workdps(_workdps(x, 0)):
        return +_R(mp.mpf(x))


def R1(x):
    """-R'(x) = 1 - x R(x)."""
    with mp.workdps(_workdps(x, 2)):
        x = mp.mpf(x)
        return +(1 - x * _R(x))


def R3(x):
    """-R'''(x) = (x^2 + 2) - x (x^2 + 3) R(x)."""
    with mp.workdps(_workdps(x, 6)):
        x = mp.mpf(x)
        return +((x * x + 2) - x * (x * x + 3) * _R(x))


def Rrel(x):
    """(sqrt(pi/2) - R(x))/x, with its limit 1 at x = 0."""
    if x == 0:
        return mp.mpf(1)
    # sqrt(pi/2) - R(x) is about x: as many more digits as x is small
    small = max(0, int(-math.log10(abs(float(x)))))
    with mp.workdps(_workdps(x, 0) + small):
        x = mp.mpf(x)
        return +((mp.sqrt(mp.pi / 2) - _R(x)) / x)


def rel_err(got, ref):
    """|got - ref| / |ref| in units of 2^-52.  Worked out at the precision of
    the references, whatever mpmath's current precision: at its default of
    53 bits, ref itself would be rounded to a double first."""
    with mp.workdps(DIGITS + 10):
        ref = mp.mpf(ref)
        if ref == 0:
            return 0.0 if got == 0 else math.inf
        return float(abs(mp.mpf(got) - ref) / abs(ref)) * 2.0**52


def worst(f, ref, xs):
    """Largest relative error of f against ref over xs, in units of 2^-52,
    with the point where it occurs."""
    return max(((rel_err(f(x), ref(x)), x) for x in xs), key=lambda t: t[0])


def ulps_apart(a, b):
    """Number of doubles between a and b (same sign assumed)."""
    ia = struct.unpack("<q", struct.pack("<d", a))[0]
    ib = struct.unpack("<q", struct.pack("<d", b))[0]
    return abs(ia - ib)


def bits(v):
    """The bit pattern of a double, so that -0.0 != 0.0 and NaN == NaN."""
    return struct.pack("<d", v)


def bits_array(a):
    """The bytes of a float64 array, for bitwise comparison."""
    import numpy as np
    return np.ascontiguousarray(a, dtype=np.float64).tobytes()


def f32(v):
    """v rounded to float (IEEE single)."""
    return struct.unpack("<f", struct.pack("<f", v))[0]


class Kernels:
    """The kernels exported by one of qarvel's extension modules, called
    through ctypes: the C entry points by name (kernels.qarvel_MillsRatio) and
    the template instantiations by name and type (kernels.tmpl("MillsRatio",
    "f"))."""

    # Parameter lists after the first T, in the Itanium mangling of
    # qarvel::Name<T>(T, ...): S1_ is T again, i is int.
    _EXTRA = {
        "MillsRatio_CF": ("ii", [ctypes.c_int, ctypes.c_int]),
        "MillsRatioDiff": ("S1_i", ["T", ctypes.c_int]),
        "MillsRatioDiff_CF": ("S1_i", ["T", ctypes.c_int]),
    }

    def __init__(self, module):
        self.lib = ctypes.CDLL(importlib.import_module(module).__file__)

    def entry(self, name, nargs_double=1, ints=0):
        fn = getattr(self.lib, name)
        fn.restype = ctypes.c_double
        fn.argtypes = [ctypes.c_double] * nargs_double + [ctypes.c_int] * ints
        return fn

    def tmpl(self, name, t):
        ctype = {"f": ctypes.c_float, "d": ctypes.c_double}[t]
        suffix, extra = self._EXTRA.get(name, ("", []))
        sym = f"_ZN6qarvel{len(name)}{name}I{t}EET_S1_{suffix}"
        fn = getattr(self.lib, sym)
        fn.restype = ctype
        fn.argtypes = [ctype] + [ctype if a == "T" else a for a in extra]
        return fn
