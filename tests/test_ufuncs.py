"""qarvel.ufuncs: the kernels as NumPy ufuncs, float32 and float64 loops."""

import doctest
import math
import threading
import time
import tracemalloc

import mpmath as mp
import numpy as np
import pytest

import helpers as h
from qarvel import mills, relmeans, symdiff
from qarvel import ufuncs as u

# The sweeps reach arguments whose results overflow or are undefined, and
# NumPy warns of those; the tests of the flags ask for them explicitly.
pytestmark = pytest.mark.filterwarnings("ignore:.* encountered in:RuntimeWarning")

INF, NAN = math.inf, math.nan
up = lambda x: float(np.nextafter(x, INF))
down = lambda x: float(np.nextafter(x, -INF))
INT_MAX, INT_MIN = 2**31 - 1, -(2**31)

# Regime and depth switch points of the Mills kernels and the divided
# differences, the overflow cut-off and the continued-fraction guard.
SWITCHES = [1.0, 9.5, 11.4, 11.5, 14.5, 15.1, 17.1, 21.2, 24.1, 25.4, 41.0, 50.5, 59.3, 165.0,
            210.0, 548.0, 12800.0, 17300.0, 6.7e7, 37.67712072049519, 1.3407807929942596e154]
SPECIALS = [0.0, -0.0, INF, -INF, NAN, 5e-324, -5e-324, 1e-300, 1e300, -1e300, 1.7976931348623157e308]


def real_points(seed, n=3000):
    rng = np.random.default_rng(seed)
    near = [v for t in SWITCHES for v in (down(t), t, up(t))]
    logs = np.exp(rng.uniform(-700, 700, n)) * rng.choice([-1.0, 1.0], n)
    return np.array(SPECIALS + near + [-v for v in near] + list(rng.uniform(-40, 60, n)) + list(logs))


def unit_points(seed, n=3000):
    rng = np.random.default_rng(seed)
    return np.array([0.0, -0.0, 1.0, down(1.0), 5e-324, 1e-300, NAN] + list(rng.uniform(0, 1, n))
                    + list(np.exp(rng.uniform(-700, 0, n))))


def above_minus_one_points(seed, n=3000):
    rng = np.random.default_rng(seed)
    return np.array([0.0, -0.0, up(-1.0), INF, NAN, 5e-324, -5e-324, 1e-17, 1e300]
                    + list(rng.uniform(-1, 5, n)) + list(np.exp(rng.uniform(-700, 700, n)))
                    + list(np.maximum(-1 + np.exp(rng.uniform(-700, 0, n)), up(-1.0))))


def step_points(x, seed):
    """A half-step for each x: relative to x in every regime, absolute, specials."""
    rng = np.random.default_rng(seed)
    n = len(x)
    with np.errstate(all="ignore"):
        rel = np.abs(x) * np.exp(rng.uniform(-40, 2, n))
    pick = rng.integers(0, 4, n)
    absolute = np.exp(rng.uniform(-50, 6, n))
    special = rng.choice(np.array(SPECIALS), n)
    return np.choose(pick, [rel, absolute, -rel, special])


def same_bits(a, b):
    return h.bits_array(a) == h.bits_array(b)


# --- float64: the module functions bit for bit ----------------------------------

UNARY = [
    (u.millsratio, mills.millsratio, real_points),
    (u.millsratio_d1, mills.millsratio_d1, real_points),
    (u.millsratio_d3, mills.millsratio_d3, real_points),
    (u.millsratio_rel_below1, mills.millsratio_rel_below1, unit_points),
    (u.logrel, relmeans.logrel, above_minus_one_points),
]


@pytest.mark.parametrize("uf, f, points", UNARY, ids=[c[0].__name__ for c in UNARY])
def test_unary_float64_equals_module_function(uf, f, points):
    x = points(1)
    got = uf(x)
    assert got.dtype == np.float64 and same_bits(got, f(x))


def test_powrel_float64_equals_module_function():
    x = above_minus_one_points(2)
    a = np.concatenate([[0.0, -0.0, 1.0, 2.5, -0.5, INF, -INF, NAN, 1e300, -1e300],
                        np.random.default_rng(3).uniform(-50, 50, len(x) - 10)])
    assert same_bits(u.powrel(x, a), relmeans.powrel(x, a))
    # every x against a few exponents, broadcast
    a_col = np.array([[0.0], [2.5], [-700.0]])
    assert same_bits(u.powrel(x, a_col), relmeans.powrel(x, a_col))


@pytest.mark.parametrize("uf, f, params", [
    (u.millsratio_dd, symdiff.millsratio_dd, [1, -1, 0, 7, -7, INT_MAX, INT_MIN]),
    (u.millsratio_dd_cf, symdiff.millsratio_dd_cf, [0, 1, 2, 3, 4, 5, 8, 12, 13, 40, -3]),
], ids=["millsratio_dd", "millsratio_dd_cf"])
def test_divided_differences_float64_equal_module_functions(uf, f, params):
    x = real_points(4, 2000)
    dx = step_points(x, 5)
    for k in params:
        assert same_bits(uf(x, dx, k), f(x, dx, k)), k
    # an array of parameters: each element with its own
    k = np.resize(np.array(params, dtype=np.int64), len(x))
    want = np.array([f(a, b, int(c)) for a, b, c in zip(x, dx, k)])
    assert same_bits(uf(x, dx, k), want)


# --- float32: the float instantiations bit for bit, and their accuracy ---------------

MILLS = h.Kernels("qarvel.mills")
SYMDIFF = h.Kernels("qarvel.symdiff")


def same_float(a, b):
    return h.bits(a) == h.bits(b) or (math.isnan(a) and math.isnan(b))


@pytest.mark.parametrize("uf, kernel, points", [
    (u.millsratio, "MillsRatio", real_points),
    (u.millsratio_d1, "MillsRatioDeriv1", real_points),
    (u.millsratio_d3, "MillsRatioDeriv3", real_points),
    (u.millsratio_rel_below1, "MillsRatioRel_below1", unit_points),
], ids=["millsratio", "millsratio_d1", "millsratio_d3", "millsratio_rel_below1"])
def test_unary_float32_equals_float_kernel(uf, kernel, points):
    K = MILLS.tmpl(kernel, "f")
    with np.errstate(over="ignore"):
        x = points(6, 700).astype(np.float32)
    got = uf(x)
    assert got.dtype == np.float32
    bad = [v for v, g in zip(x, got) if not same_float(float(g), K(float(v)))]
    assert not bad, bad[:5]


@pytest.mark.parametrize("uf, kernel, params", [
    (u.millsratio_dd, "MillsRatioDiff", [1, -1]),
    (u.millsratio_dd_cf, "MillsRatioDiff_CF", [0, 2, 4, 9]),
], ids=["millsratio_dd", "millsratio_dd_cf"])
def test_divided_differences_float32_equal_float_kernels(uf, kernel, params):
    K = SYMDIFF.tmpl(kernel, "f")
    with np.errstate(over="ignore"):
        x = real_points(7, 300).astype(np.float32)
        dx = step_points(x.astype(np.float64), 8).astype(np.float32)
    for k in params:
        got = uf(x, dx, k)
        assert got.dtype == np.float32
        bad = [(a, b) for a, b, g in zip(x, dx, got) if not same_float(float(g), K(float(a), float(b), k))]
        assert not bad, (k, bad[:5])


def _float_sample(lo, hi, n=60):
    # logarithmic where the interval spans decades, evenly spaced otherwise
    if lo > 0 and hi / lo > 100:
        return np.float32(np.exp(np.linspace(np.log(lo), np.log(hi), n)))
    return np.float32(np.linspace(lo, hi, n))


# tolerance in units of 2^-23 relative, for x >= -1
@pytest.mark.parametrize("uf, ref, tol, pieces", [
    (u.millsratio, h.R, 2.0, [(-1, 0), (0, 1), (1, 30), (30, 4e9)]),
    (u.millsratio_d1, h.R1, 2.5, [(-1, 0), (0, 1), (1, 30), (30, 4e9)]),
    (u.millsratio_d3, h.R3, 3.5, [(-1, 0), (0, 1), (1, 30), (30, 4e9)]),
    (u.millsratio_rel_below1, h.Rrel, 2.0, [(0, 1)]),
], ids=["millsratio", "millsratio_d1", "millsratio_d3", "millsratio_rel_below1"])
def test_unary_float32_accuracy(uf, ref, tol, pieces):
    x = [float(v) for lo, hi in pieces for v in _float_sample(lo, hi)]
    err, at = h.worst(lambda v: float(uf(np.float32(v))), ref, x)
    assert err * 2.0**-29 <= tol, (err * 2.0**-29, at)


def test_divided_difference_float32_accuracy():
    # The difference branch against the exact divided difference at the
    # float points, small steps (series and continued fraction) and large
    # ones (direct); the float kernel's worst is in the direct regime.
    rng = np.random.default_rng(9)
    x = np.float32(np.exp(rng.uniform(np.log(0.05), np.log(3000), 120)))
    dx = np.float32(x * np.exp(rng.uniform(np.log(1e-4), np.log(0.5), 120)))
    got = u.millsratio_dd(x, dx, 1)
    worst = 0.0
    for a, b, g in zip(x, dx, got):
        lo, hi = float(a) - float(b), float(a) + float(b)
        with mp.workdps(60):
            want = (h._R(mp.mpf(lo)) - h._R(mp.mpf(hi))) / (mp.mpf(hi) - mp.mpf(lo))
        worst = max(worst, h.rel_err(float(g), want) * 2.0**-29)
    assert worst <= 32.0, worst


# --- dtypes --------------------------------------------------------------------

def test_loops_and_type_resolution():
    for uf in (u.millsratio, u.millsratio_d1, u.millsratio_d3, u.millsratio_rel_below1):
        assert uf.types == ["f->f", "d->d"]
    for uf in (u.millsratio_dd, u.millsratio_dd_cf):
        assert uf.types == ["ffq->f", "ddq->d"] or uf.types == ["ffl->f", "ddl->d"]
    assert (u.logrel.types, u.powrel.types) == (["d->d"], ["dd->d"])
    half = np.array([0.5, 2.0], dtype=np.float16)
    f32 = np.array([0.5, 2.0], dtype=np.float32)
    cases = [
        (u.millsratio(half), np.float32),            # float16 takes the float32 loop
        (u.millsratio(np.array([1, 2], dtype=np.int32)), np.float64),
        (u.millsratio(f32, dtype=np.float64), np.float64),
        (u.millsratio_dd(f32, 0.25, 1), np.float32),  # a Python float goes with float32
        (u.millsratio_dd(f32, np.float64(0.25), 1), np.float64),
        (u.logrel(f32), np.float64),                  # double loop only
        (u.powrel(f32, np.float32(2.0)), np.float64),
    ]
    for got, dtype in cases:
        assert got.dtype == dtype
    # float32 through the float64 loop is the float64 result of the exact value
    assert same_bits(u.millsratio(f32, dtype=np.float64), mills.millsratio(f32.astype(np.float64)))
    assert same_bits(u.logrel(f32), relmeans.logrel(f32))


def test_scalars_give_numpy_scalars():
    got = u.millsratio(1.0)
    assert type(got) is np.float64 and got == mills.millsratio(1.0)
    assert type(u.millsratio(np.float32(1.0))) is np.float32
    assert type(u.millsratio_dd(5.0, 0.1, 1)) is np.float64


# --- memory layouts ---------------------------------------------------------------

# ufunc, and a function giving its float arguments (one or two) from a seed
LAYOUT = [
    (u.millsratio, lambda s: (real_points(s, 400),), ()),
    (u.millsratio_d1, lambda s: (real_points(s, 400),), ()),
    (u.millsratio_d3, lambda s: (real_points(s, 400),), ()),
    (u.millsratio_rel_below1, lambda s: (unit_points(s, 400),), ()),
    (u.logrel, lambda s: (above_minus_one_points(s, 400),), ()),
    (u.powrel, lambda s: (above_minus_one_points(s, 400)[:600], np.resize([2.5, -0.5, 0.0, 30.0], 600)), ()),
    (u.millsratio_dd, lambda s: (real_points(s, 400), step_points(real_points(s, 400), s)), (-1,)),
    (u.millsratio_dd_cf, lambda s: (real_points(s, 400), step_points(real_points(s, 400), s)), (6,)),
]


LAYOUT_CASES = [(*case, dtype) for dtype in (np.float64, np.float32) for case in LAYOUT
                if dtype == np.float64 or case[0] not in (u.logrel, u.powrel)]


@pytest.mark.parametrize("uf, args_of, extra, dtype", LAYOUT_CASES,
                         ids=[f"{c[0].__name__}-{c[3].__name__}" for c in LAYOUT_CASES])
def test_layouts_give_contiguous_results(uf, args_of, extra, dtype):
    with np.errstate(over="ignore"):
        args = [np.ascontiguousarray(a[:600], dtype=dtype) for a in args_of(10)]
    assert all(len(a) == 600 for a in args)
    with np.errstate(all="ignore"):
        _check_layouts(uf, args, extra)


def _check_layouts(uf, args, extra):
    want = uf(*args, *extra)
    dtype = want.dtype

    def check(got, expected):
        assert same_bits(got, expected)

    # every n-th element of a longer array, forwards and backwards
    long = [np.repeat(a, 3) for a in args]
    check(uf(*[a[::3] for a in long], *extra), want)
    check(uf(*[a[::-1] for a in args], *extra), want[::-1])
    check(uf(*[a[::-3] for a in long], *extra), want[::-1])
    # zero stride: one element broadcast to the whole length
    first = uf(*[np.broadcast_to(a[7], a.shape) for a in args], *extra)
    check(first, np.full(600, want[7], dtype=dtype))
    # Fortran order, and a transposed view
    f_args = [np.asfortranarray(a.reshape(20, 30)) for a in args]
    check(uf(*f_args, *extra), want.reshape(20, 30))
    check(uf(*[a.reshape(30, 20).T for a in args], *extra), want.reshape(30, 20).T)
    # out= overlapping the first argument, shifted by one element
    buf = np.concatenate([args[0], args[0][:1]])
    x_view, out_view = buf[:-1], buf[1:]
    got = uf(x_view, *args[1:], *extra, out=out_view)
    assert got is out_view
    check(out_view, want)


def test_out_and_where():
    x = np.linspace(-5, 5, 11)
    out = np.full(11, -7.0)
    mask = x > 0
    got = u.millsratio(x, out=out, where=mask)
    assert got is out
    assert same_bits(out[mask], mills.millsratio(x[mask])) and (out[~mask] == -7.0).all()
    # in place: each element is read before it is written
    y = x.copy()
    u.millsratio_dd(y, 0.5, 1, out=y)
    assert same_bits(y, symdiff.millsratio_dd(x, 0.5))
    # a float32 out= on the float64 loop is a same-kind cast
    out32 = np.empty(11, dtype=np.float32)
    u.millsratio(x, out=out32)
    assert (out32 == mills.millsratio(x).astype(np.float32)).all()


def _peak(f):
    tracemalloc.start()
    try:
        f()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_broadcasting_copies_nothing():
    # (1000, 1) against (1, 1000): the output and the iterator's fixed-size
    # buffers, as much as np.add needs for the same operands
    x = np.linspace(0, 30, 1000)[:, None]
    dx = np.linspace(1e-6, 1, 1000)[None, :]
    peak = _peak(lambda: u.millsratio_dd(x, dx, 1))
    assert peak <= _peak(lambda: np.add(x, dx)) + 16 * 1024, peak
    assert _peak(lambda: symdiff.millsratio_dd(x, dx)) > 3 * 8_000_000   # the module function copies
    assert same_bits(u.millsratio_dd(x[::97], dx, 1), symdiff.millsratio_dd(x[::97], dx))


# --- integer parameters ------------------------------------------------------------

@pytest.mark.parametrize("theta", [1, True, np.int8(-1), np.int32(1), np.int64(-1), np.uint32(1),
                                   np.array([1, -1], dtype=np.int32), np.array([1, -1], dtype=np.int16),
                                   np.array([1, 0], dtype=np.uint16), np.array([1, -1], dtype=np.int64)],
                         ids=repr)
def test_integer_parameters_accepted(theta):
    x = np.array([0.5, 3.0])
    want = np.array([symdiff.millsratio_dd(v, 0.1, int(t)) for v, t in zip(x, np.broadcast_to(theta, 2))])
    assert same_bits(u.millsratio_dd(x, 0.1, theta), want)


@pytest.mark.parametrize("k", [2.0, np.float32(1.0), np.array([1.0]), np.array([1], dtype=np.uint64), "1"],
                         ids=repr)
def test_non_integer_parameters_refused(k):
    with pytest.raises(TypeError):
        u.millsratio_dd_cf(30.0, 0.1, k)


def test_parameter_beyond_int_range_is_nan_and_invalid():
    k = np.array([INT_MAX + 1, INT_MIN - 1, 2**40, -(2**63), INT_MAX, 4], dtype=np.int64)
    with pytest.warns(RuntimeWarning, match="invalid value encountered in millsratio_dd_cf"):
        got = u.millsratio_dd_cf(30.0, 0.1, k)
    assert np.isnan(got[:4]).all()
    assert same_bits(got[4:], [symdiff.millsratio_dd_cf(30.0, 0.1, INT_MAX), symdiff.millsratio_dd_cf(30.0, 0.1, 4)])
    # even where x is NaN (which alone gives NaN without a flag)
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
        u.millsratio_dd(NAN, 0.1, 2**31)
    with pytest.raises(OverflowError):   # NumPy refuses a Python int beyond int64
        u.millsratio_dd(1.0, 0.1, 2**70)


# --- domain and floating-point flags ----------------------------------------------

@pytest.mark.parametrize("uf, args", [
    (u.millsratio_rel_below1, ([-0.5, 0.5, 1.5, -5e-324, up(1.0), INF, -INF],)),
    (u.logrel, ([-1.0, 0.5, -2.0, -INF],)),
    (u.powrel, ([-1.0, 0.5, -3.0, -INF], 2.0)),
], ids=["millsratio_rel_below1", "logrel", "powrel"])
def test_outside_domain_nan_and_invalid_flag(uf, args):
    name = uf.__name__
    with pytest.warns(RuntimeWarning, match=f"invalid value encountered in {name}"):
        got = uf(*args)
    inside = np.array(args[0]) == 0.5
    assert np.isnan(got[~inside]).all() and np.isfinite(got[inside]).all()
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError, match=f"invalid value encountered in {name}"):
        uf(*args)
    with np.errstate(invalid="ignore"):
        assert np.isnan(uf(*args)[~inside]).all()


# Arguments whose kernels raise flags on the way to a correct result
# (float64, then float32 where the Mills and divided-difference ufuncs have
# a loop): NaN, infinities, x*x overflowing, underflow in the tails.
QUIET = [
    (u.millsratio, ([NAN, INF, -INF, 1e300, 5e-324, -37.6, 1e154, 2e154],),
     ([NAN, INF, -INF, 3e38, 1e-45, -13.0, 1e19, 2e19],)),
    (u.millsratio_d1, ([NAN, INF, 1e300, -1e-300, 1e200, 2e154],), ([NAN, INF, 3e38, -1e-38, 1e30, 2e19],)),
    (u.millsratio_d3, ([NAN, INF, 1e300, 1e-300, 1e200],), ([NAN, INF, 3e38, 1e-38, 1e30],)),
    (u.millsratio_rel_below1, ([NAN, 0.0, 1e-300, 5e-324, 1.0],), ([NAN, 0.0, 1e-38, 1e-45, 1.0],)),
    (u.millsratio_dd, ([NAN, 8.96718e+54, 0.0, 1e-300], [0.1, 4.05948e-103, NAN, 7e-27], 1),
     ([NAN, 1e8, 0.0, 1e-30], [0.1, 48.2, NAN, 7e-27], 1)),
    (u.millsratio_dd_cf, ([NAN, 1e300, 17300.0], [0.1, 0.0039, 17.3], 0), ([NAN, 3e38, 17300.0], [0.1, 0.0039, 17.3], 0)),
    (u.logrel, ([NAN, 5e-324, 1e300],), None),
    (u.powrel, ([NAN, 0.5, 5e-324], [2.0, NAN, 1.0]), None),
]


@pytest.mark.parametrize("uf, args, args32", QUIET, ids=[c[0].__name__ for c in QUIET])
def test_no_flags_for_correct_results(uf, args, args32):
    variants = [(args, np.float64)] + ([(args32, np.float32)] if args32 else [])
    for a, dtype in variants:
        floats = [np.array(v, dtype=dtype) if isinstance(v, list) else v for v in a]
        with np.errstate(all="raise"):
            uf(*floats)


def test_infinities_are_not_reported():
    # R(x) is +inf below -37.67 without arithmetic; no overflow flag for any
    # infinity, whether the kernel computed it or returned it
    with np.errstate(all="raise"):
        assert u.millsratio(-40.0) == INF and u.millsratio(np.float32(-14.0)) == INF
        assert u.millsratio(-37.675) == INF and u.millsratio_d3(-40.0) == INF
        assert u.millsratio_dd(40.0, 0.5, -1) == INF and u.powrel(1e300, 3.0) == INF
        assert u.millsratio(-INF) == INF and u.millsratio(INF) == 0.0


@pytest.mark.parametrize("uf, args", [
    (u.millsratio_dd, (1e300, 0.0039, 1)),       # R(x) - R(x + dx) with both beyond the guard
    (u.millsratio_dd_cf, (1e300, 0.0039, 4)),
    (u.powrel, (5e-324, 1e-300)),                # a L and x a both underflow: 0/0
    (u.logrel, (INF,)),                          # inf/inf
], ids=lambda v: getattr(v, "__name__", None))
def test_nan_from_non_nan_arguments_is_invalid(uf, args):
    with np.errstate(invalid="raise"), pytest.raises(FloatingPointError, match=f"invalid value encountered in {uf.__name__}"):
        uf(*args)


def test_invalid_found_anywhere():
    # NaN arguments raise the flag inside the kernels in every block, which
    # is no reason to report; one NaN from an infinity in a later block is
    x = np.full(3000, NAN)
    x[::2] = 0.5
    with np.errstate(invalid="raise"):
        u.logrel(x)
        u.logrel(x[::-1])
        y = x.copy()
        u.logrel(y, out=y)
    for where in (0, 1023, 1024, 2500, 2999):
        y = x.copy()
        y[where] = INF
        with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
            u.logrel(y)
        # in place, the argument is still read as it was
        with np.errstate(invalid="raise"), pytest.raises(FloatingPointError):
            u.logrel(y, out=y)


# --- the interpreter lock -------------------------------------------------------------

def test_loops_release_the_interpreter_lock():
    # While one thread is in a long ufunc call, another keeps running Python
    # code: the longest pause it sees is a small part of the call.
    x = np.linspace(1, 9, 6_000_000)
    stop = threading.Event()
    gaps = []

    def ticker():
        last = time.perf_counter()
        while not stop.is_set():
            now = time.perf_counter()
            gaps.append(now - last)
            last = now

    t = threading.Thread(target=ticker)
    t.start()
    try:
        time.sleep(0.01)
        start = time.perf_counter()
        u.millsratio(x)
        u.millsratio_dd(x, 1e-3, 1)
        call = time.perf_counter() - start
    finally:
        stop.set()
        t.join()
    assert max(gaps) < 0.5 * call, (max(gaps), call)


# --- documentation ----------------------------------------------------------------------

ALL = [u.millsratio, u.millsratio_d1, u.millsratio_d3, u.millsratio_rel_below1,
       u.millsratio_dd, u.millsratio_dd_cf, u.logrel, u.powrel]


@pytest.mark.parametrize("uf", ALL, ids=[f.__name__ for f in ALL])
def test_docstring_examples(uf):
    for section in ("Parameters", "Returns", "Notes", "Examples"):
        assert f"\n{section}\n" in uf.__doc__
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    test = parser.get_doctest(uf.__doc__, {}, uf.__name__, None, 0)
    assert test.examples
    runner.run(test)
    assert runner.failures == 0
