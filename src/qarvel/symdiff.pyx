# cython: language_level=3, boundscheck=False, wraparound=False, initializedcheck=False
"""Symmetric divided differences of the Mills ratio R(x) = N(-x)/n(x).

For a midpoint x and half-step dx (so the two evaluation points are x - dx and x + dx):

    millsratio_dd(x, dx, theta=+1) = (R(x-dx) - R(x+dx)) / (2 dx)  (difference branch)
    millsratio_dd(x, dx, theta=-1) = (R(dx-x) + R(x+dx)) / (2 dx)  (sum branch; first
                                     argument reflected so both R-evaluations land on
                                     positive arguments)
    millsratio_dd_cf(x, dx, n)     = deep-asymptotic cancellation-free divided difference
                                     via the coupled (V, T, Pa, Pb) recurrence on the
                                     depth-n CF convergent of R; table-free.

Note: theta=-1 is NOT the literal arithmetic divided difference -- the first argument is
reflected (R(dx - x) instead of R(x - dx)) so that both R-evaluations land on positive
arguments, avoiding cancellation when x < 0.

This module is a thin numpy-vectorisation layer over the kernels in
src/qarvel/_kernels/symdiff: each function converts x and dx to float64,
broadcasts them against each other, applies one scalar kernel to every
element pair and returns a float when both are zero-dimensional, otherwise a
float64 array of the broadcast shape.

Other extension modules reach the kernels at C level through the scalar entry
points _R_DD and _R_DD_CF, declared in the module's declaration file
symdiff.pxd (``from qarvel.symdiff cimport _R_DD``).
"""

import numpy as np
cimport numpy as cnp

from ._buffers cimport READONLY, WRITABLE, PyBuffer_Release, acquire_doubles

cnp.import_array()

ctypedef double (*kernel2_t)(double, double, int) noexcept nogil


cdef object _apply2(kernel2_t K, x, dx, int k):
    # Convert x then dx, broadcast, flatten both in row-major order, one
    # output, plain loop.  The inputs are only read, so read-only arrays (and
    # the read-only views of broadcast_to) are accepted as they are.
    x_arr = np.asarray(x, dtype=np.float64)
    dx_arr = np.asarray(dx, dtype=np.float64)
    bshape = np.broadcast_shapes(x_arr.shape, dx_arr.shape)
    cdef bint scalar = len(bshape) == 0
    flat_x = np.ascontiguousarray(np.broadcast_to(x_arr, bshape).ravel())
    flat_dx = np.ascontiguousarray(np.broadcast_to(dx_arr, bshape).ravel())
    out = np.empty_like(flat_x)
    cdef Py_buffer xv, dxv, ov
    cdef const double* fx
    cdef const double* fdx
    cdef double* o
    cdef Py_ssize_t n, i
    acquire_doubles(flat_x, &xv, READONLY)
    try:
        acquire_doubles(flat_dx, &dxv, READONLY)
        try:
            acquire_doubles(out, &ov, WRITABLE)
            try:
                fx = <const double*>xv.buf
                fdx = <const double*>dxv.buf
                o = <double*>ov.buf
                n = xv.shape[0]
                for i in range(n):
                    o[i] = K(fx[i], fdx[i], k)
            finally:
                PyBuffer_Release(&ov)
        finally:
            PyBuffer_Release(&dxv)
    finally:
        PyBuffer_Release(&xv)
    if scalar:
        return float(out[0])
    return out.reshape(bshape)


def millsratio_dd(x, dx, int theta=1):
    """Mills-ratio symmetric divided difference:
        theta = +1: returns (R(x-dx) - R(x+dx)) / (2 dx)  (difference branch)
        theta = -1: returns (R(dx-x) + R(x+dx)) / (2 dx)  (sum branch; first argument
                    reflected so both R-evaluations land on positive arguments)
    Scalars or broadcastable ndarrays for x, dx; theta scalar (+/-1).  For theta=+1 a
    three-regime split (CF asymp / 5-term R'''-seeded Taylor / direct R difference)
    bounds the relative error at the worst-case boundary; theta=-1 is a pure sum of two
    Mills ratios (no cancellation).
    """
    # theta arrives converted to a C int (argument parsing does it, before x
    # or dx is looked at); every negative value selects the sum branch.
    return _apply2(_R_DD, x, dx, theta)


def millsratio_dd_cf(x, dx, int n_terms=4):
    """Deep-asymptotic cancellation-free divided difference via the (V, T, P^a, P^b) CF
    recurrence (table-free, algorithmic loop).  n_terms >= 0 supported.  Scalars or
    broadcastable ndarrays for x, dx; n_terms scalar.
    """
    return _apply2(_R_DD_CF, x, dx, n_terms)
