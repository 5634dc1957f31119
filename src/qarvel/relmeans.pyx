# cython: language_level=3, boundscheck=False, wraparound=False, initializedcheck=False, cdivision=True
"""
Numerically stable relative functions.

All functions handle the x=0 limit analytically and use compensated
primitives (expm1, log1p) to avoid catastrophic cancellation.
"""

from libc.math cimport log1p, expm1

import numpy as np
cimport numpy as cnp

from ._buffers cimport WRITABLE, PyBuffer_Release, acquire_doubles

cnp.import_array()

# cdivision (first line): every quotient below is a plain IEEE division, so a
# zero denominator gives an infinity or NaN instead of Cython's
# ZeroDivisionError check, which a noexcept kernel could only print and drop.


# log(1 + x)/x loses every digit to cancellation in 1 + x when x is small;
# log1p never forms 1 + x, so log1p(x)/x keeps full relative accuracy down to
# the smallest subnormal.  At x = +-0 the removable singularity has the value
# 1, returned exactly.  Nothing else is special-cased: x = -1 gives +inf,
# x < -1 and NaN give NaN, x = +inf gives inf/inf = NaN.
cdef double _logrel(double x) noexcept nogil:
    if x == 0:
        return 1.0
    return log1p(x) / x


# ((1 + x)^a - 1)/(a x) = expm1(a log1p(x))/(x a): the power is formed as an
# exponential of L = log1p(x), and expm1 keeps the digits of e^(a L) - 1 when
# a L is small.  For large positive a L the rounding of L is magnified by the
# exponential, and the relative error grows like a L ulp; for large negative
# a L, e^(a L) - 1 is near -1 and insensitive to it.  Singular points:
# x = +-0 gives exactly 1 for every a (NaN included), and a = +-0 gives the
# logrel formula, written out here rather than called.  No other branch: when
# a L and x a both underflow the result is 0/0 = NaN, and IEEE overflow and
# NaN propagation decide every other extreme.
cdef double _powrel(double x, double a) noexcept nogil:
    cdef double L, E
    if x == 0:
        return 1.0
    if a == 0:
        return log1p(x) / x
    L = log1p(x)
    E = expm1(L * a)
    # the denominator x a is its own product, not L a reused
    return E / (x * a)


# The element loops below call the kernels directly; they are static
# functions of this translation unit, and the C++ compiler inlines them into
# the loops (never through the capsule table).

def logrel(x):
    """
    Numerically stable computation of ``log(1 + x) / x``.

    Average of ``1/t`` over the interval ``[1, 1+x]``:

        (1/x) ∫_1^{1+x}  (1/t) dt  =  log(1 + x) / x

    Uses ``log1p`` to avoid cancellation for small ``x``.
    Limit at ``x = 0`` is ``1``.  Requires ``x > -1``.

    Args:
        x: scalar or ndarray, any numeric dtype; must satisfy ``x > -1``

    Returns:
        ``log(1 + x) / x``, dtype float64, same shape as ``x``
    """
    x_arr = np.asarray(x, dtype=np.float64)
    # -1 itself is refused (log1p(-1) = -inf); NaN compares false and passes
    if np.any(x_arr <= -1.0):
        raise ValueError("x must be greater than -1.")
    cdef bint scalar = x_arr.ndim == 0
    flat = np.ascontiguousarray(x_arr.ravel())
    out = np.empty_like(flat)
    # views requested writable, the input's too: a read-only C-contiguous
    # float64 input reaches here uncopied and is refused by the buffer request
    cdef Py_buffer fv, ov
    cdef const double* f
    cdef double* o
    cdef Py_ssize_t i
    acquire_doubles(flat, &fv, WRITABLE)
    try:
        acquire_doubles(out, &ov, WRITABLE)
        try:
            f = <const double*>fv.buf
            o = <double*>ov.buf
            for i in range(fv.shape[0]):
                o[i] = _logrel(f[i])
        finally:
            PyBuffer_Release(&ov)
    finally:
        PyBuffer_Release(&fv)
    if scalar:
        return float(out[0])
    return out.reshape(x_arr.shape)


cdef object _flatten(arr, b):
    # The elements of b, arr broadcast to the common shape, in row-major order
    # as a C-contiguous array.  An argument that already has that shape gives
    # its own elements, uncopied when it is C-contiguous float64 (and so
    # refused by the writable view when read-only, as in logrel).  An argument
    # that was broadcast is copied: b is then a view with repeated elements
    # that NumPy flags against writing, and even when it ravels without a copy
    # (size-1 dimensions), a writable view of it would draw NumPy's warning
    # about writing through broadcast arrays.
    if arr.shape == b.shape:
        return np.ascontiguousarray(arr.ravel())
    return b.flatten()


def powrel(x, a):
    """
    Numerically stable computation of ``((1+x)^a - 1) / (a * x)``.

    Average of ``t^(a-1)`` over the interval ``[1, 1+x]``:

        (1/x) ∫_1^{1+x}  t^(a-1) dt  =  ((1+x)^a - 1) / (a x)

    The case ``a = 0`` reduces to ``logrel``.
    Uses ``expm1`` and ``log1p`` to avoid cancellation.
    Limit at ``x = 0`` is ``1`` for all ``a``.  Requires ``x > -1``.

    Args:
        x: scalar or ndarray, any numeric dtype; must satisfy ``x > -1``
        a: power exponent, scalar or ndarray broadcastable with ``x``

    Returns:
        ``((1+x)^a - 1) / (a * x)``, dtype float64,
        shape is the broadcast shape of ``x`` and ``a``
    """
    x_arr = np.asarray(x, dtype=np.float64)
    a_arr = np.asarray(a, dtype=np.float64)
    # only x has a domain, checked before broadcasting; a may be anything
    if np.any(x_arr <= -1.0):
        raise ValueError("x must be greater than -1.")
    bx, ba = np.broadcast_arrays(x_arr, a_arr)
    cdef bint scalar = bx.ndim == 0
    cdef Py_buffer xv, av, ov
    cdef const double* fx
    cdef const double* fa
    cdef double* o
    cdef Py_ssize_t i
    flat_x = _flatten(x_arr, bx)
    acquire_doubles(flat_x, &xv, WRITABLE)
    try:
        flat_a = _flatten(a_arr, ba)
        acquire_doubles(flat_a, &av, WRITABLE)
        try:
            out = np.empty_like(flat_x)
            acquire_doubles(out, &ov, WRITABLE)
            try:
                fx = <const double*>xv.buf
                fa = <const double*>av.buf
                o = <double*>ov.buf
                for i in range(xv.shape[0]):
                    o[i] = _powrel(fx[i], fa[i])
            finally:
                PyBuffer_Release(&ov)
        finally:
            PyBuffer_Release(&av)
    finally:
        PyBuffer_Release(&xv)
    if scalar:
        return float(out[0])
    return out.reshape(bx.shape)
