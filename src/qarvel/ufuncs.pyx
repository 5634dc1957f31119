# cython: language_level=3
"""The kernels of qarvel as NumPy ufuncs.

``millsratio``, ``millsratio_d1``, ``millsratio_d3``, ``millsratio_rel_below1``,
``millsratio_dd``, ``millsratio_dd_cf``, ``logrel`` and ``powrel`` compute what
the functions of the same names in qarvel.mills, qarvel.symdiff and
qarvel.relmeans compute, bit for bit in float64, through NumPy's ufunc
machinery: ``out=``, ``where=``, ``dtype=``, broadcasting without copies,
``__array_ufunc__`` dispatch (Dask, xarray, pandas), ``np.errstate`` and
ufunc methods such as ``outer`` work as they do for ``np.exp``, and the loops
run without the interpreter lock.

Loops: float32 and float64 for the Mills ratio and the divided differences
(float32 calls the kernels' float instantiations, float64 the double ones);
float64 only for ``logrel`` and ``powrel``, whose float32 arguments are
promoted.  Integer arguments of the Mills functions are converted to float64.

Differences from the module functions:

* Domain.  Where a module function raises ValueError for an argument
  outside its domain (``millsratio_rel_below1`` outside [0, 1], ``logrel``
  and ``powrel`` for x <= -1), a ufunc gives NaN for that element and raises
  the invalid floating-point flag, as ``np.log(-1.0)`` does: NumPy warns
  ("invalid value encountered in logrel"), and ``np.errstate(invalid="raise")``
  turns it into FloatingPointError.
* Flags.  The one floating-point flag a ufunc reports is invalid, for a NaN
  from arguments none of which is NaN: an argument outside the domain, or
  an undefined value such as ``logrel(inf)`` (inf/inf).  Flags the kernels
  raise on the way to a correct result are not reported, and neither is
  overflow: ``millsratio(-40.0)`` is inf, as R(x) is for every x below
  -37.67, without a warning.
* Integer parameters.  ``theta`` of ``millsratio_dd`` and ``n_terms`` of
  ``millsratio_dd_cf`` are ufunc inputs like x and dx, with no default, and
  broadcast like them.  They are taken as int64: Python ints, bools and
  signed integer arrays (and unsigned ones up to 32 bits) are accepted, a
  float is a TypeError, and an element beyond the 32-bit int range gives NaN
  with the invalid flag.
* Results are always arrays or NumPy scalars (``np.float64``, ``np.float32``),
  never Python floats, and a ufunc never copies a broadcast argument.
"""

cimport numpy as cnp
from numpy cimport (NPY_DOUBLE, NPY_FLOAT, NPY_INT64, PyUFunc_FromFuncAndData,
                    PyUFunc_None, PyUFuncGenericFunction, npy_intp)

from .relmeans cimport _logrel, _powrel

cnp.import_array()
cnp.import_ufunc()


# The kernels, float and double instantiations of the C++ templates.
cdef extern from "_kernels/mills.hpp" nogil:
    float R_f "qarvel::MillsRatio<float>"(float) noexcept
    double R_d "qarvel::MillsRatio<double>"(double) noexcept
    float R1_f "qarvel::MillsRatioDeriv1<float>"(float) noexcept
    double R1_d "qarvel::MillsRatioDeriv1<double>"(double) noexcept
    float R3_f "qarvel::MillsRatioDeriv3<float>"(float) noexcept
    double R3_d "qarvel::MillsRatioDeriv3<double>"(double) noexcept
    float Rrel_f "qarvel::MillsRatioRel_below1<float>"(float) noexcept
    double Rrel_d "qarvel::MillsRatioRel_below1<double>"(double) noexcept

cdef extern from "_kernels/symdiff.hpp" nogil:
    float DD_f "qarvel::MillsRatioDiff<float>"(float, float, int) noexcept
    double DD_d "qarvel::MillsRatioDiff<double>"(double, double, int) noexcept
    float DDCF_f "qarvel::MillsRatioDiff_CF<float>"(float, float, int) noexcept
    double DDCF_d "qarvel::MillsRatioDiff_CF<double>"(double, double, int) noexcept

# The inner loops, one per signature and domain; the kernel comes as the
# loop's data pointer.
cdef extern from "_ufunc_loops.hpp" nogil:
    void any_real_f "qarvel::ufunc::Unary<float, qarvel::ufunc::AnyReal<float>>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void any_real_d "qarvel::ufunc::Unary<double, qarvel::ufunc::AnyReal<double>>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void unit_interval_f "qarvel::ufunc::Unary<float, qarvel::ufunc::UnitInterval<float>>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void unit_interval_d "qarvel::ufunc::Unary<double, qarvel::ufunc::UnitInterval<double>>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void above_minus_one_d "qarvel::ufunc::Unary<double, qarvel::ufunc::AboveMinusOne<double>>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void binary_above_minus_one_d "qarvel::ufunc::BinaryAboveMinusOne<double>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void divided_difference_f "qarvel::ufunc::DividedDifference<float>"(
        char**, npy_intp*, npy_intp*, void*) noexcept
    void divided_difference_d "qarvel::ufunc::DividedDifference<double>"(
        char**, npy_intp*, npy_intp*, void*) noexcept


# Operand types of each loop, inputs then output, float32 loop first so that
# float32 arguments find it before the float64 one.
cdef char unary_types[4]
unary_types[:] = [NPY_FLOAT, NPY_FLOAT, NPY_DOUBLE, NPY_DOUBLE]
cdef char dd_types[8]
dd_types[:] = [NPY_FLOAT, NPY_FLOAT, NPY_INT64, NPY_FLOAT,
               NPY_DOUBLE, NPY_DOUBLE, NPY_INT64, NPY_DOUBLE]
cdef char logrel_types[2]
logrel_types[:] = [NPY_DOUBLE, NPY_DOUBLE]
cdef char powrel_types[3]
powrel_types[:] = [NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE]

# Loop and kernel tables.  A ufunc keeps pointers into them (and to its name
# and docstring) for its whole life, so they are module-level statics.
cdef PyUFuncGenericFunction any_real_loops[2]
any_real_loops[:] = [any_real_f, any_real_d]
cdef PyUFuncGenericFunction unit_interval_loops[2]
unit_interval_loops[:] = [unit_interval_f, unit_interval_d]
cdef PyUFuncGenericFunction dd_loops[2]
dd_loops[:] = [divided_difference_f, divided_difference_d]
cdef PyUFuncGenericFunction logrel_loops[1]
logrel_loops[0] = above_minus_one_d
cdef PyUFuncGenericFunction powrel_loops[1]
powrel_loops[0] = binary_above_minus_one_d

cdef void* R_data[2]
R_data[:] = [<void*>R_f, <void*>R_d]
cdef void* R1_data[2]
R1_data[:] = [<void*>R1_f, <void*>R1_d]
cdef void* R3_data[2]
R3_data[:] = [<void*>R3_f, <void*>R3_d]
cdef void* Rrel_data[2]
Rrel_data[:] = [<void*>Rrel_f, <void*>Rrel_d]
cdef void* DD_data[2]
DD_data[:] = [<void*>DD_f, <void*>DD_d]
cdef void* DDCF_data[2]
DDCF_data[:] = [<void*>DDCF_f, <void*>DDCF_d]
cdef void* logrel_data[1]
logrel_data[0] = <void*>_logrel
cdef void* powrel_data[1]
powrel_data[0] = <void*>_powrel


cdef object _ufunc(PyUFuncGenericFunction* loops, void** data, char* types, int ntypes,
                   int nin, char* name, char* doc):
    return PyUFunc_FromFuncAndData(loops, data, types, ntypes, nin, 1, PyUFunc_None,
                                   name, doc, 0)


millsratio = _ufunc(any_real_loops, R_data, unary_types, 2, 1, b"millsratio", b"""\
Mills ratio R(x) = N(-x)/n(x), element-wise.

N is the standard normal distribution function and n its density, so
R(x) = sqrt(pi/2) erfc(x/sqrt(2)) exp(x**2/2), the upper tail divided by the
density, for every real x: R(-inf) = inf, R(inf) = 0.

Parameters
----------
x : array_like
    Argument, any real value.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    R(x), float32 for float32 (and smaller) arguments, otherwise float64.

Notes
-----
Within 2.2 units of 2**-52 relative for x >= -1 in float64 (1.6 units of
2**-23 in float32); for x < -1 the rounding of x**2/2 dominates, about
(x**2/4 + 3) units.  R(x) overflows below x = -37.67 (float32: -13.32):
the result is inf (no flag is raised).  Identical bit for bit to
qarvel.mills.millsratio in float64.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio
>>> print(millsratio(np.array([-1.0, 0.0, 1.0, 30.0])))
[3.47705181 1.25331414 0.65567954 0.03329642]
>>> print(millsratio(np.float32(1.0)).dtype)
float32
""")


millsratio_d1 = _ufunc(any_real_loops, R1_data, unary_types, 2, 1, b"millsratio_d1", b"""\
-R'(x) = 1 - x R(x), element-wise, R the Mills ratio.

Parameters
----------
x : array_like
    Argument, any real value.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    -R'(x), float32 for float32 (and smaller) arguments, otherwise float64.

Notes
-----
1 - x R(x) cancels to nothing for large x (-R'(x) is about 1/x**2); the
kernel never forms that difference.  Within 3.7 units of 2**-52 relative
for x >= -1 in float64 (2.5 units of 2**-23 in float32); for x < -1 the
rounding of x**2/2 dominates, as for millsratio.  Identical bit for bit to
qarvel.mills.millsratio_d1 in float64.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio_d1
>>> print(millsratio_d1(np.array([0.0, 1.0, 1e8])))
[1.00000000e+00 3.44320458e-01 1.00000000e-16]
""")


millsratio_d3 = _ufunc(any_real_loops, R3_data, unary_types, 2, 1, b"millsratio_d3", b"""\
-R'''(x) = (x**2 + 2) - x (x**2 + 3) R(x), element-wise, R the Mills ratio.

Parameters
----------
x : array_like
    Argument, any real value.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    -R'''(x), float32 for float32 (and smaller) arguments, otherwise float64.

Notes
-----
The defining formula cancels to nothing for large x (-R'''(x) is about
6/x**4); the kernel never forms that difference.  Within 3.5 units of
2**-52 relative for x >= -1 in float64 (3.5 units of 2**-23 in float32);
for x < -1 the rounding of x**2/2 dominates, as for millsratio.  Identical
bit for bit to qarvel.mills.millsratio_d3 in float64.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio_d3
>>> print(millsratio_d3(np.array([0.0, 5.0, 1e3])))
[2.00000000e+00 6.86533986e-03 5.99994000e-12]
""")


millsratio_rel_below1 = _ufunc(unit_interval_loops, Rrel_data, unary_types, 2, 1,
                               b"millsratio_rel_below1", b"""\
(sqrt(pi/2) - R(x))/x on [0, 1], element-wise, R the Mills ratio.

Parameters
----------
x : array_like
    Argument, 0 <= x <= 1.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    (sqrt(pi/2) - R(x))/x, with its limit 1 at x = 0; float32 for float32
    (and smaller) arguments, otherwise float64.  NaN, with the invalid
    floating-point flag, for x outside [0, 1] (where
    qarvel.mills.millsratio_rel_below1 raises ValueError).

Notes
-----
The difference sqrt(pi/2) - R(x) loses every digit as x -> 0; the kernel
evaluates the quotient directly.  Within 2.5 units of 2**-52 relative in
float64 (2 units of 2**-23 in float32).  Identical bit for bit to
qarvel.mills.millsratio_rel_below1 in float64 on [0, 1].

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio_rel_below1
>>> print(millsratio_rel_below1(np.array([0.0, 1e-9, 0.5, 1.0])))
[1.         1.         0.75389936 0.59763459]
>>> with np.errstate(invalid="raise"):
...     millsratio_rel_below1(2.0)
Traceback (most recent call last):
    ...
FloatingPointError: invalid value encountered in millsratio_rel_below1
""")


millsratio_dd = _ufunc(dd_loops, DD_data, dd_types, 2, 3, b"millsratio_dd", b"""\
Symmetric divided difference (or reflected sum) of the Mills ratio R.

For a midpoint x and a half-step dx, element-wise:

    theta >= 0:  (R(x - dx) - R(x + dx)) / (2 dx)   difference branch
    theta < 0:   (R(dx - x) + R(x + dx)) / (2 dx)   sum branch

The sum branch reflects its first argument, so that both evaluations of R
land on positive arguments when x < 0; it is not a divided difference.

Parameters
----------
x, dx : array_like
    Midpoint and half-step, any real values.  The difference branch is even
    in dx.
theta : array_like of int
    Branch selector, broadcast with x and dx.  There is no default: pass 1
    (or -1), ``millsratio_dd(x, dx, 1)``.  Any signed integer type; an
    element beyond the 32-bit int range gives NaN with the invalid flag.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    float32 when x and dx are float32 (a Python float counts as either),
    otherwise float64.

Notes
-----
The plain difference of two values of R loses the digits the two share;
for small dx the difference branch uses a Taylor series seeded by -R'''
or, far out, a continued fraction, and the direct difference only once dx
is large enough for it to be accurate.  For x >= 0, in float64: within 7.1
units of 2**-52 relative in the continued-fraction regime and 56 at the
edge of the series regime.  Identical bit for bit to
qarvel.symdiff.millsratio_dd in float64.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio_dd
>>> print(millsratio_dd(np.array([0.5, 5.0, 30.0]), 1e-6, 1))
[0.56181777 0.03595948 0.00110743]
>>> print(millsratio_dd(2.0, 0.5, np.array([1, -1])))
[0.16155053 7.55940812]
""")


millsratio_dd_cf = _ufunc(dd_loops, DDCF_data, dd_types, 2, 3, b"millsratio_dd_cf", b"""\
Divided difference of a continued-fraction approximant of the Mills ratio.

Element-wise (R_n(x - dx) - R_n(x + dx)) / (2 dx), where R_n is the depth-n
continued fraction 1/(x + 1/(x + 2/(x + ... + n/x))), computed by a
recurrence free of the cancellation of the difference.  For large x, R_n
approximates R closely and this is a cheap divided difference of R.

Parameters
----------
x, dx : array_like
    Midpoint and half-step, any real values.
n_terms : array_like of int
    Depth n >= 0, broadcast with x and dx.  There is no default (the module
    function's is 4): ``millsratio_dd_cf(x, dx, 4)``.  0 is depth 0, any
    other value below 2 depth 1.  Any signed integer type; an element
    beyond the 32-bit int range gives NaN with the invalid flag.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    float32 when x and dx are float32 (a Python float counts as either),
    otherwise float64.

Notes
-----
Within about 10 units of 2**-52 relative of the exact divided difference
of R_n, in float64.  Identical bit for bit to
qarvel.symdiff.millsratio_dd_cf in float64.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import millsratio_dd, millsratio_dd_cf
>>> print(millsratio_dd_cf(5.0, 0.5, np.array([2, 4, 8, 12])))
[0.03631431 0.03624955 0.0362476  0.03624759]
>>> print(millsratio_dd(5.0, 0.5, 1))
0.03624759468492911
""")


logrel = _ufunc(logrel_loops, logrel_data, logrel_types, 1, 1, b"logrel", b"""\
log(1 + x)/x, element-wise.

The average of 1/t over [1, 1 + x].

Parameters
----------
x : array_like
    Argument, x > -1.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    log(1 + x)/x, float64, with its limit 1 at x = 0.  NaN, with the
    invalid floating-point flag, for x <= -1 (where qarvel.relmeans.logrel
    raises ValueError).

Notes
-----
log1p(x)/x, which keeps full relative accuracy as x -> 0: within 1 unit
of 2**-52 relative.  Only a float64 loop: float32 arguments are promoted.
Identical bit for bit to qarvel.relmeans.logrel for x > -1.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import logrel
>>> print(logrel(np.array([0.0, 1e-17, 1.0])))
[1.         1.         0.69314718]
>>> print(logrel(np.float32(1.0)).dtype)
float64
""")


powrel = _ufunc(powrel_loops, powrel_data, powrel_types, 1, 2, b"powrel", b"""\
((1 + x)**a - 1)/(a x), element-wise.

The average of t**(a - 1) over [1, 1 + x]; logrel(x) at a = 0.

Parameters
----------
x : array_like
    Argument, x > -1.
a : array_like
    Exponent, any real value, broadcast with x.
out, where, dtype, ... :
    As for every ufunc.

Returns
-------
ndarray or scalar
    ((1 + x)**a - 1)/(a x), float64, with its limit 1 at x = 0 for every a.
    NaN, with the invalid floating-point flag, for x <= -1 (where
    qarvel.relmeans.powrel raises ValueError).

Notes
-----
expm1(a log1p(x))/(a x): within 2 units of 2**-52 relative where
|a log1p(x)| < 1; for large positive a log1p(x) the exponential magnifies
the rounding of log1p(x), to about 475 units at a log1p(x) = 700.  Only a
float64 loop: float32 arguments are promoted.  Identical bit for bit to
qarvel.relmeans.powrel for x > -1.

Examples
--------
>>> import numpy as np
>>> from qarvel.ufuncs import powrel
>>> print(powrel(np.array([1e-12, 1.0]), 2.5))
[1.        1.8627417]
""")
