# cython: language_level=3, boundscheck=False, wraparound=False, initializedcheck=False
"""Mills ratio R(x) = N(-x)/n(x), -R'(x), -R'''(x), plus (sqrt(pi/2) - R(x))/x on [0, 1].

This module is a thin numpy-vectorisation layer over the kernels in
src/qarvel/_kernels/mills: each function converts its argument to float64,
applies one scalar kernel to every element and returns a float for a
zero-dimensional argument, otherwise a float64 array of the argument's shape.

Other extension modules reach the kernels at C level through the scalar entry
points _R, _R1, _R3, _R013_CF and _Rrel_below1, declared in the module's
declaration file mills.pxd (``from qarvel.mills cimport _R``).
"""

import numpy as np
cimport numpy as cnp

from ._buffers cimport WRITABLE, PyBuffer_Release, acquire_doubles

cnp.import_array()

ctypedef double (*kernel_t)(double) noexcept nogil


cdef object _apply(kernel_t K, x_arr):
    # x_arr is float64; flatten in row-major order, one output, plain loop.
    # Both buffers are requested writable, the input's too: a read-only
    # C-contiguous float64 argument reaches here uncopied and is refused.
    cdef bint scalar = x_arr.ndim == 0
    flat = np.ascontiguousarray(x_arr.ravel())
    out = np.empty_like(flat)
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
                o[i] = K(f[i])
        finally:
            PyBuffer_Release(&ov)
    finally:
        PyBuffer_Release(&fv)
    if scalar:
        return float(out[0])
    return out.reshape(x_arr.shape)


def millsratio(x):
    "Mills ratio R(x) = N(-x)/n(x); scalar or ndarray, any x."
    return _apply(_R, np.asarray(x, dtype=np.float64))


def millsratio_d1(x):
    "-R'(x) = 1 - x R(x); scalar or ndarray, any x."
    return _apply(_R1, np.asarray(x, dtype=np.float64))


def millsratio_d3(x):
    "-R'''(x); scalar or ndarray, any x."
    return _apply(_R3, np.asarray(x, dtype=np.float64))


def millsratio_rel_below1(x):
    "(sqrt(pi/2) - R(x))/x; scalar or ndarray, 0 <= x <= 1."
    x_arr = np.asarray(x, dtype=np.float64)
    # NaN compares false both ways and passes to the kernel.
    if np.any((x_arr < 0.0) | (x_arr > 1.0)):
        raise ValueError("millsratio_rel_below1 requires 0 <= x <= 1.")
    return _apply(_Rrel_below1, x_arr)
