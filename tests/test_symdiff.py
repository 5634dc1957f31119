"""qarvel.symdiff: the divided-difference kernels (double and float) and the Python layer."""

import inspect
import math
import shutil
import subprocess
from fractions import Fraction

import numpy as np
import pytest

import helpers as h
from qarvel import mills, symdiff

INF, NAN = math.inf, math.nan
INT_MAX, INT_MIN = 2**31 - 1, -(2**31)

K = h.Kernels("qarvel.symdiff")
DD = K.entry("qarvel_MillsRatioDiff", 2, ints=1)
DD_CF = K.entry("qarvel_MillsRatioDiff_CF", 2, ints=1)
DD_F = K.tmpl("MillsRatioDiff", "f")
DD_CF_F = K.tmpl("MillsRatioDiff_CF", "f")

dd, dd_cf = symdiff.millsratio_dd, symdiff.millsratio_dd_cf
up = lambda x: float(np.nextafter(x, INF))
down = lambda x: float(np.nextafter(x, -INF))
f32 = np.float32


def same(got, want):
    """Bit for bit, with every NaN equal to every other."""
    return h.bits(got) == h.bits(want) or (math.isnan(got) and math.isnan(want))


def edge(x):
    """The small-dx bound (1.25 + x) 0.0392 in double."""
    return (1.25 + x) * 0.0392


def regime(x, dx):
    """Which regime of the difference branch a (x, dx >= 0) pair takes."""
    if not dx < edge(x):
        return "direct"
    return "cf" if x - dx >= 21.2 else "series"


# --- exact references ----------------------------------------------------------

def R_n(x, n):
    """R_n(x) = 1/(x + 1/(x + 2/(x + ... + n/x))), the nested fraction in
    exact rational arithmetic; R_0 = 1/x."""
    t = Fraction(0)
    for k in range(n, 0, -1):
        t = k / (x + t)
    return 1 / (x + t)


def minus_dR_n(x, n):
    """-R_n'(x) in exact rational arithmetic: the nested fraction carried with
    its derivative (forward differentiation), no divided difference."""
    t, dt = Fraction(0), Fraction(0)
    for k in range(n, 0, -1):
        den = x + t
        t, dt = k / den, -k * (1 + dt) / (den * den)
    den = x + t
    return (1 + dt) / (den * den)


def cf_dd_exact(x, dx, n):
    """(R_n(a) - R_n(b))/(b - a) at the rounded points a = x - dx, b = x + dx;
    -R_n'(a) when they coincide."""
    a, b = Fraction(x - dx), Fraction(x + dx)
    if a == b:
        return minus_dR_n(a, n)
    return (R_n(a, n) - R_n(b, n)) / (b - a)


def recurrence_exact(x, dx, n_terms):
    """The coupled V, T, Pa, Pb recurrence run in exact rational arithmetic on
    the rounded points a = x - dx and b = x + dx."""
    a, b = Fraction(x - dx), Fraction(x + dx)
    ab = a * b
    if n_terms == 0:
        return 1 / ab
    s2 = a * a + b * b
    V_p, V_c, T_p, T_c = Fraction(1), ab - 1, Fraction(-1), s2 + 1
    Pa_p, Pa_c, Pb_p, Pb_c = a, a * a + 1, b, b * b + 1
    for k in range(2, n_terms + 1):
        V_n = k * k * V_p + k * T_c + ab * V_c
        T_n = k * (k - 1) * T_p + 2 * ab * k * V_p + s2 * V_c
        Pa_n = a * Pa_c + k * Pa_p
        Pb_n = b * Pb_c + k * Pb_p
        V_p, V_c, T_p, T_c = V_c, V_n, T_c, T_n
        Pa_p, Pa_c, Pb_p, Pb_c = Pa_c, Pa_n, Pb_c, Pb_n
    return V_c / (Pa_c * Pb_c)


def R_dd(a, b):
    """(R(a) - R(b))/(b - a) for doubles a <= b, in mpmath; -R'(a) when they
    coincide.  Each R carries 60 or more digits, far beyond those that the
    difference cancels for the steps used here."""
    if a == b:
        return h.R1(a)
    with h.mp.workdps(300):
        return (h.R(a) - h.R(b)) / (h.mp.mpf(b) - h.mp.mpf(a))


def ref_dd(x, dx):
    return R_dd(x - dx, x + dx)


# --- the coupled recurrence is the divided difference of R_n, exactly --------

# (x, dx) as doubles; the recurrence and the nested fraction see the same
# rounded points.  Small, large, unequal-magnitude, negative and zero steps.
EXACT_POINTS = [(5.0, 0.1), (0.7, 0.3), (30.0, 1e-3), (2.5, 2.0), (1e3, 17.0),
                (-3.0, 0.5), (0.0, 1.5), (12.0, -0.75), (6150.0, 1.0)]


@pytest.mark.parametrize("n", [0, 1, 2, 3, 4, 5, 8, 13])
def test_recurrence_equals_divided_difference_of_nested_fraction(n):
    for x, dx in EXACT_POINTS:
        assert recurrence_exact(x, dx, n) == cf_dd_exact(x, dx, n), (x, dx)


@pytest.mark.parametrize("n", [0, 1, 2, 4, 7])
def test_recurrence_at_coincident_points_is_minus_derivative(n):
    for x in (0.5, 3.0, 30.0):
        assert recurrence_exact(x, 0.0, n) == minus_dR_n(Fraction(x), n)


# MillsRatioDiff_CF against the exact divided difference of R_n, where
# MillsRatioDiff uses it: depths 2, 4, 6, 8 from a = 12800, 165, 41, 21.2 on,
# dx below the small-dx bound.  Largest error found in 600000 random points:
# 9.51 2^-52, at depth 8 (the point below).
CF_KERNEL_TOL = 10.0
CF_KERNEL_WORST = [(33.08548575911058, 0.7509676679109953, 8), (33.442939237949595, 0.3891391831913388, 8)]
DEPTH_FROM = [(2, 12800.0, 1e7), (4, 165.0, 12800.0), (6, 41.0, 165.0), (8, 21.2, 41.0)]


def _cf_regime_points(rng, a_lo, a_hi, count):
    """(x, dx) with a = x - dx log-uniform in [a_lo, a_hi) and dx a uniform
    fraction of the small-dx bound."""
    out = []
    for _ in range(count):
        a = float(np.exp(rng.uniform(np.log(a_lo), np.log(a_hi))))
        f = rng.uniform(0.0, 1.0)
        x = (a + 0.049 * f) / (1 - 0.0392 * f)
        dx = float(f * edge(x))
        if regime(x, dx) == "cf" and a_lo <= x - dx < a_hi:
            out.append((float(x), dx))
    return out


def test_cf_kernel_against_exact_divided_difference():
    rng = np.random.default_rng(1)
    cases = list(CF_KERNEL_WORST)
    for n, lo, hi in DEPTH_FROM:
        cases += [(x, dx, n) for x, dx in _cf_regime_points(rng, lo, hi, 1000)]
    worst = max((h.rel_err(DD_CF(x, dx, n), cf_dd_exact(x, dx, n)), x, dx, n) for x, dx, n in cases)
    assert worst[0] <= CF_KERNEL_TOL, worst


def test_cf_kernel_float_against_exact_divided_difference():
    # Float: the same steps in float, against the exact divided difference at
    # the float-rounded points, in the same regime as far as the float range
    # allows (depth 4 only to a = 6000: see test_float_accuracy).  Largest
    # error found in 80000 points: 8.35 2^-23.
    rng = np.random.default_rng(2)
    cases = [(26.2571964263916, 0.800711452960968, 8)]
    for n, lo, hi in [(8, 21.2, 41.0), (6, 41.0, 165.0), (4, 165.0, 6000.0), (2, 12800.0, 2e6)]:
        cases += [(float(f32(x)), float(f32(dx)), n) for x, dx in _cf_regime_points(rng, lo, hi, 150)]
    worst = 0.0
    for x, dx, n in cases:
        a, b = Fraction(float(f32(x) - f32(dx))), Fraction(float(f32(x) + f32(dx)))
        exact = (R_n(a, n) - R_n(b, n)) / (b - a) if a != b else minus_dR_n(a, n)
        worst = max(worst, h.rel_err(DD_CF_F(x, dx, n), exact) / 2**29)
    assert worst <= 9.0


# --- bit-level cases -------------------------------------------------------------

# MillsRatioDiff_CF: (x, dx, n_terms, result).  n_terms below 2 other than 0
# is depth 1; members overflow into 0 (product of denominators) or NaN.
CF_CASES = [
    (5.0, 0.1, 0, 0.040016006402561026),     # 1/((x - dx)(x + dx))
    (5.0, 0.1, 1, 0.035513377026087006),
    (5.0, 0.1, -3, 0.035513377026087006),
    (5.0, 0.1, -1, 0.035513377026087006),
    (5.0, 0.1, INT_MIN, 0.035513377026087006),
    (30.0, 1e-3, 8, 0.0011074278263046072),
    (6150.0, 1.0, 39, 2.6439287385059862e-08),
    (6150.0, 1.0, 40, 0.0),                   # Pb Pa overflows, V does not
    (1.0, 0.1, 166, NAN),                     # the members themselves overflow
    (5.0, 0.1, 150, NAN),
    (30.0, 0.1, 103, NAN),
    (3e51, 1.0, 2, 0.0),                      # depth 2 overflows from about 2.376e51
    (NAN, 0.1, 4, NAN),
    (5.0, NAN, 4, NAN),
]


@pytest.mark.parametrize("x, dx, n, want", CF_CASES, ids=[f"{c[0]},{c[1]},{c[2]}" for c in CF_CASES])
def test_cf_cases(x, dx, n, want):
    got = DD_CF(x, dx, n)
    assert same(got, want)
    assert same(dd_cf(x, dx, n), got)


def test_cf_overflow_onsets():
    # the last finite depths before the NaN cases above, and the depth-2 zero
    assert all(math.isfinite(DD_CF(x, 0.1, n)) for x, n in [(1.0, 165), (5.0, 149), (30.0, 102)])
    assert DD_CF(2e51, 1.0, 2) > 0.0


def test_cf_depth_one_and_zero_formulas():
    x, dx = 7.25, 0.375
    a, b = x - dx, x + dx
    assert DD_CF(x, dx, 0) == 1 / (a * b)
    assert DD_CF(x, dx, 1) == (a * b - 1) / ((b * b + 1) * (a * a + 1))


def test_cf_symmetric_in_the_two_points():
    assert DD_CF(30.0, 0.5, 8) == DD_CF(30.0, -0.5, 8)
    rng = np.random.default_rng(3)
    for _ in range(200):
        x, dx, n = rng.uniform(-50, 50), rng.uniform(0, 10), int(rng.integers(0, 20))
        assert same(DD_CF(x, dx, n), DD_CF(x, -dx, n))


def test_cf_depth8_at_30_is_R_itself():
    assert h.rel_err(DD_CF(30.0, 1e-3, 8), ref_dd(30.0, 1e-3)) * 2**-52 < 3e-16


@pytest.mark.parametrize("fn", [lambda x, dx, n: dd_cf(x, dx, n), DD_CF_F],
                         ids=["double via millsratio_dd_cf", "float"])
def test_cf_largest_depths_terminate(fn):
    # The counter stops at INT_MAX without passing it; long before, the
    # members overflow and the result is NaN, whatever the depth beyond.
    for x, dx in [(5.0, 0.1), (30.0, 0.1), (6150.0, 1.0), (1e6, 1.0), (0.0, 0.0), (-3.0, 0.5), (NAN, 0.1)]:
        for n in (400, 1000, 123457, INT_MAX - 1, INT_MAX):
            assert math.isnan(fn(x, dx, n)), (x, dx, n)
        assert fn(x, dx, INT_MIN) == fn(x, dx, 1) or math.isnan(fn(x, dx, 1))


# MillsRatioDiff: (x, dx, theta, result).
DD_CASES = [
    # x = 5: the bound (1.25 + 5) 0.0392 is the double 0.245; the test is strict
    (5.0, 0.245, 1, 0.03602827673198656),                 # direct
    (5.0, down(0.245), 1, 0.03602827673198619),           # series
    # dx = 0: the series gives (1 + r_d3)/u, at x = 5 equal to -R'(5)
    (5.0, 0.0, 1, 0.03595947642342118),
    # ... and the continued fraction its coincident-point value (depth 8 here)
    (30.0, 0.0, 1, 0.0011074278250835987),
    (-1.25, 0.0, 1, NAN),                                 # direct: 0/0
    (-3.0, 0.0, 1, NAN),
    (1.0, 0.0, -1, INF),                                  # sum over 0
    (0.0, 0.3, -1, 3.339458003307186),                    # R(0.3)/0.3
    (NAN, 0.5, 1, NAN), (0.5, NAN, 1, NAN), (NAN, 0.5, -1, NAN), (0.5, NAN, -1, NAN),
    (NAN, 0.0, 1, NAN), (40.0, NAN, 1, NAN),
]


@pytest.mark.parametrize("x, dx, theta, want", DD_CASES, ids=[f"{c[0]},{c[1]},{c[2]}" for c in DD_CASES])
def test_dd_cases(x, dx, theta, want):
    got = DD(x, dx, theta)
    assert same(got, want)
    assert same(dd(x, dx, theta), got)


def test_both_sides_of_the_edge_at_5_are_accurate():
    for dx in (0.245, down(0.245)):
        assert h.rel_err(DD(5.0, dx, 1), ref_dd(5.0, dx)) * 2**-52 < 1e-14


def test_dd_at_30_with_zero_step_is_one_unit_from_d1():
    # the coincident-point continued fraction and -R'(30) are neighbouring doubles
    assert mills.millsratio_d1(30.0) == 0.0011074278250835985
    assert h.ulps_apart(DD(30.0, 0.0, 1), mills.millsratio_d1(30.0)) == 1


def test_zero_step_in_series_regime_is_r_d1():
    # (1 + -R'''(x))/(x x + 3) bit for bit, for -1.25 < x < 21.2
    for x in (-1.2, -0.5, 0.0, 0.5, 5.0, 11.0, 17.1, 20.0, down(21.2)):
        r3 = mills.millsratio_d3(x)
        assert DD(x, 0.0, 1) == (1 + r3) / (x * x + 3), x


# Regime and depth selection: (x, dx, depth of MillsRatioDiff_CF or None for
# the direct regime).  a = x - dx decides the depth; thresholds are inclusive.
DEPTH_CASES = [
    (30.0, 1e-3, 8), (100.0, 1e-3, 6), (1e6, 1.0, 2), (100.0, 3.9, 6), (100.0, 4.0, None),
    (21.2 + 0.25, 0.25, 8), (41.25, 0.25, 6), (down(41.0) + 0.25, 0.25, 8),
    (165.25, 0.25, 4), (down(165.0) + 0.25, 0.25, 6), (12800.25, 0.25, 2), (down(12800.0) + 0.25, 0.25, 4),
    (30.0, 0.0, 8), (100.0, 0.0, 6), (12800.0, 0.0, 2),
]


@pytest.mark.parametrize("x, dx, depth", DEPTH_CASES, ids=[f"{c[0]},{c[1]}" for c in DEPTH_CASES])
def test_depth_selection(x, dx, depth):
    got = DD(x, dx, 1)
    if depth is None:
        R = mills.millsratio
        assert got == (R(x - dx) - R(x + dx)) / (dx + dx)
    else:
        assert got == DD_CF(x, dx, depth)


def test_series_regime_starts_below_21_2():
    # a = the largest double below 21.2 is the series, with a step near the
    # edge, where its truncation error (about 9e-15 here) sets it apart from
    # the continued fraction
    x = down(21.2) + 0.875
    assert x - 0.875 == down(21.2) and regime(x, 0.875) == "series"
    assert DD(x, 0.875, 1) != DD_CF(x, 0.875, 8)
    assert h.rel_err(DD(x, 0.875, 1), ref_dd(x, 0.875)) * 2**-52 < 1.47e-14


# theta is tested by sign: every negative value is the sum branch, every
# other value the difference branch.  Points in every regime and both signs.
SELECTOR_POINTS = [(5.0, 0.1), (5.0, 2.0), (30.0, 1e-3), (1e4, 5.0), (-3.0, 0.5), (0.0, 0.3), (-0.5, 0.01)]


def test_theta_by_sign():
    for x, dx in SELECTOR_POINTS:
        diff, summ = DD(x, dx, 1), DD(x, dx, -1)
        assert all(same(DD(x, dx, t), diff) for t in (0, 2, 7, INT_MAX))
        assert all(same(DD(x, dx, t), summ) for t in (-2, -5, INT_MIN))


def test_sum_branch_at_zero_midpoint():
    # both arguments are dx; doubling numerator and denominator is exact
    for dx in (0.3, 1.7, 12.0, 300.0):
        assert DD(0.0, dx, -1) == mills.millsratio(dx) / dx


# A negative half-step gives the result of |dx| in the difference branch, bit
# for bit: the quantity is even in dx.  Taken literally, any dx < 0 would pass
# the small-dx test, and a large one would reach the series (x = 5, dx = -3:
# 6.7e-4 relative error) or the continued fraction at a negative point
# (x = -1, dx = -100: a finite negative number for +inf).
@pytest.mark.parametrize("x, dx", [(5.0, 3.0), (0.0, 2.0), (-1.0, 100.0), (10.0, 5.0), (-5.0, 0.2),
                                   (30.0, 10.0), (5.0, 0.1), (30.0, 1e-3), (1e4, 5.0), (-3.0, 0.5)])
def test_negative_step_is_folded(x, dx):
    assert same(DD(x, -dx, 1), DD(x, dx, 1))
    assert same(DD_F(x, -dx, 0), DD_F(x, dx, 0))
    want = ref_dd(x, dx)
    got = DD(x, -dx, 1)
    if want > np.finfo(np.float64).max:
        assert got == INF
    else:
        assert h.rel_err(got, want) * 2**-52 < 1.5e-14


def test_float_constants_are_nearest_floats():
    # 0.0392, 21.2 and 17.1 as floats: 0.03920000046491623, 21.200000762939453,
    # 17.100000381469727.  At x = 5 the float bound (1.25f + 5) 0.0392f is
    # 0.24500000476837158, so that float is already the direct regime.
    assert (float(f32(0.0392)), float(f32(21.2)), float(f32(17.1))) == \
        (0.03920000046491623, 21.200000762939453, 17.100000381469727)
    bound = float(f32(6.25) * f32(0.0392))
    R = K.tmpl("MillsRatio", "f")
    direct = float((f32(R(5.0 - bound)) - f32(R(5.0 + bound))) / (f32(bound) + f32(bound)))
    assert DD_F(5.0, bound, 1) == direct
    assert DD_F(5.0, float(np.nextafter(f32(bound), f32(0))), 1) != direct
    # with dx = 0, x = 21.2f is the continued fraction, the float below it the
    # series, whose value there is (1 + r_d3)/(x x + 3) in float
    a = float(f32(21.2))
    assert DD_F(a, 0.0, 1) == DD_CF_F(a, 0.0, 8)
    below = np.nextafter(f32(21.2), f32(0))
    r3 = f32(K.tmpl("MillsRatioDeriv3", "f")(float(below)))
    assert DD_F(float(below), 0.0, 1) == float((f32(1) + r3) / (below * below + f32(3)))


# --- accuracy against mpmath -----------------------------------------------------

# Relative tolerances of the difference branch, for x >= 0, against the exact
# divided difference of R at the two rounded points.  Largest errors found by
# dense sweeps (the listed points are the worst found):
#   series  1.4613e-14, near x = 10.5 at the regime's edge (truncation);
#   direct  8.0e-15 just beyond the edge, where the difference cancels about
#           3.7 bits and R's own error, plus b - a != 2 dx, is magnified;
#   cf      1.77e-15, depth 8 just above a = 21.2.
ACCURACY = {
    "series": (1.47e-14, [(10.523034865436573, 0.4615029667251136), (10.238582770346056, 0.4502266804411453)]),
    "direct": (8.1e-15, [(57.2315935556003, 2.310588879453792), (23.178144643131738, 0.9580680671423509)]),
    "cf": (1.8e-15, [(25.32954939208465, 0.05855823216074593), (25.224375988682656, 0.7412061701799707)]),
}


def _regime_sample(name, rng, count=400):
    pts = []
    if name == "cf":
        for lo, hi in [(21.2, 41.0), (41.0, 165.0), (165.0, 12800.0), (12800.0, 1e8)]:
            pts += _cf_regime_points(rng, lo, hi, count // 4)
        return pts
    while len(pts) < count:
        if name == "series":
            x = rng.uniform(0.0, 22.2)
            # mostly near the edge, where the truncation error is largest
            f = 1 - abs(rng.normal(0, 0.05)) if rng.uniform() < 0.7 else rng.uniform(0, 1)
        else:
            x = float(np.exp(rng.uniform(np.log(0.01), np.log(1e5)))) if rng.uniform() < 0.5 else rng.uniform(0, 60)
            f = 1 + abs(rng.normal(0, 0.02)) if rng.uniform() < 0.7 else rng.uniform(1, 20)
        x = float(x)
        dx = float(f * edge(x))
        if dx > 0 and regime(x, dx) == name:
            pts.append((x, dx))
    return pts


@pytest.mark.parametrize("name", list(ACCURACY))
def test_accuracy(name):
    tol, extra = ACCURACY[name]
    pts = _regime_sample(name, np.random.default_rng(10)) + extra
    # tiny steps, where the points coincide or nearly do
    if name != "direct":
        x0 = 5.0 if name == "series" else 300.0
        pts += [(x0, 1e-300), (x0, 1e-20), (x0, 1e-12), (x0, 1e-8)]
    assert all(regime(x, dx) == name for x, dx in pts)
    worst = max((h.rel_err(DD(x, dx, 1), ref_dd(x, dx)) * 2**-52, x, dx) for x, dx in pts)
    assert worst[0] <= tol, worst


def test_accuracy_sum_branch():
    # (R(dx - x) + R(x + dx))/(2 dx) at the rounded arguments: the error of R
    # itself, 1.72 2^-52 at most found where both arguments are >= -1; below
    # that the reflection's exponent rounding, about m^2/4 2^-52 for the
    # smaller argument m.
    rng = np.random.default_rng(11)
    for _ in range(400):
        x = float(rng.uniform(-30, 30))
        dx = float(np.exp(rng.uniform(np.log(1e-6), np.log(40))))
        p, q = dx - x, x + dx
        if min(p, q) < -37:
            continue
        with h.mp.workdps(80):
            want = (h.R(p) + h.R(q)) / (2 * h.mp.mpf(dx))
        m = min(p, q, 0.0)
        tol = 2.0 if m >= -1 else m * m / 4 + 3
        assert h.rel_err(DD(x, dx, -1), want) <= tol, (x, dx)


# Float instantiation, units of 2^-23 relative, against the exact divided
# difference at the float-rounded points, for x >= 0.  Largest errors found
# (the extra points): series 1.64, direct 31.1 (small x, just past the edge),
# continued fraction 7.93.  In float the denominators of the continued
# fraction overflow within its regime, and the result is 0: at depth 4 from
# a = 7132 (dx = 0; lower for larger dx), at depth 2 from 2.64e6.  The
# sample stays outside those windows.
FLOAT_TOL = {"series": 2.0, "direct": 32.0, "cf": 8.0}
FLOAT_WORST = [(1.9460468292236328, 0.10559263825416565), (0.008015993051230907, 0.04962705820798874),
               (34.24860382080078, 0.10995770990848541)]


def _float_regime(x, dx):
    if not dx < (f32(1.25) + x) * f32(0.0392):
        return "direct"
    return "cf" if x - dx >= f32(21.2) else "series"


def test_float_accuracy():
    rng = np.random.default_rng(12)
    worst = {}
    pts = [(f32(x), f32(dx)) for x, dx in FLOAT_WORST]
    for _ in range(900):
        x = f32(np.exp(rng.uniform(np.log(0.01), np.log(6000)))) if rng.uniform() < 0.8 \
            else f32(rng.uniform(12900, 2e6))
        pts.append((x, f32(edge(float(x)) * rng.uniform(0.2, 1.8))))
    for x, dx in pts:
        if dx == 0 or (x - dx >= 6000 and x - dx < 12800):
            continue
        name = _float_regime(x, dx)
        got = DD_F(float(x), float(dx), 1)
        err = h.rel_err(got, R_dd(float(x - dx), float(x + dx))) / 2**29
        worst[name] = max(worst.get(name, 0.0), err)
    assert set(worst) == set(FLOAT_TOL)
    assert all(worst[k] <= FLOAT_TOL[k] for k in FLOAT_TOL), worst


# --- the Python layer ------------------------------------------------------------

@pytest.mark.parametrize("x, dx", [(5.0, 0.1), (np.float32(5.0), np.float64(0.1)), (np.array(5.0), np.array(0.1)),
                                   (5, 1), (True, 0.5)], ids=repr)
def test_zero_dimensional_gives_python_float(x, dx):
    for f, default in ((dd, 1), (dd_cf, 4)):
        got = f(x, dx)
        assert type(got) is float
        assert got == f(float(x), float(dx), default)


@pytest.mark.parametrize("x, dx, shape", [
    (np.arange(3.0), 0.1, (3,)),
    (np.ones((2, 1)), np.array([0.1, 0.2, 0.3]), (2, 3)),
    ([0.5], 0.1, (1,)),
    (np.empty(0), 0.1, (0,)),
    (np.empty(0), [0.1], (0,)),
    (np.empty((2, 0)), np.empty((1, 0)), (2, 0)),
    (0.5, np.ones((2, 3, 4)), (2, 3, 4)),
])
def test_broadcast_shapes(x, dx, shape):
    for f in (dd, dd_cf):
        got = f(x, dx)
        assert isinstance(got, np.ndarray) and got.dtype == np.float64 and got.shape == shape
        assert got.flags.c_contiguous and got.flags.writeable
        # every element is the kernel at the broadcast pair
        bx, bdx = np.broadcast_arrays(np.asarray(x, dtype=np.float64), np.asarray(dx, dtype=np.float64))
        want = [f(float(u), float(v)) for u, v in zip(bx.ravel(), bdx.ravel())]
        assert h.bits_array(got) == h.bits_array(np.array(want, dtype=np.float64).reshape(shape))


@pytest.mark.parametrize("x, dx", [([1.0, 2.0], [0.1, 0.2, 0.3]), (np.empty(0), np.ones(3)),
                                   (np.ones((2, 3)), np.ones((3, 2)))])
def test_broadcast_errors(x, dx):
    for f in (dd, dd_cf):
        with pytest.raises(ValueError, match="broadcast"):
            f(x, dx)


def _inputs():
    base = np.linspace(0.5, 40.0, 12).reshape(3, 4)
    ro = base.copy()
    ro.flags.writeable = False
    return {
        "readonly": (ro, 0.25),
        "readonly-both": (ro, np.broadcast_to(np.float64(0.25), (3, 4))),
        "broadcast_to": (np.broadcast_to(np.linspace(1, 3, 4), (3, 4)), ro),
        "frombuffer": (np.frombuffer(np.float64([1.0, 5.0, 30.0]).tobytes()), 0.5),
        "transposed": (base.T, 0.3),
        "fortran-strided": (np.asfortranarray(base)[:, ::2], base[:, 1::2]),
        "int": (np.arange(1, 13).reshape(3, 4), 1),
        "bool": (np.array([True, False, True]), np.array([0.5])),
        "float32": (base.astype(np.float32), np.float32(0.25)),
        "big-endian": (base.astype(">f8"), np.array([0.5, 1.0, 2.0, 3.0], dtype=">f8")),
    }


@pytest.mark.parametrize("name", list(_inputs()))
def test_any_input_matches_elementwise(name):
    x, dx = _inputs()[name]
    before = [np.array(v, copy=True) for v in (x, dx)]
    for f in (dd, dd_cf):
        got = f(x, dx)
        x64, dx64 = (np.asarray(v, dtype=np.float64) for v in (x, dx))
        bx, bdx = np.broadcast_arrays(x64, dx64)
        assert got.shape == bx.shape and got.dtype == np.float64
        want = [f(float(u), float(v)) for u, v in zip(bx.ravel(), bdx.ravel())]
        assert h.bits_array(got) == h.bits_array(np.array(want).reshape(bx.shape))
        for v in (x, dx):
            assert not np.shares_memory(got, np.asarray(v))
    for v, b in zip((x, dx), before):
        np.testing.assert_array_equal(v, b)


@pytest.mark.parametrize("theta, as_int", [(True, 1), (False, 0), (1.9, 1), (-0.5, 0), (-1.5, -1), (0, 0), (2, 2),
                                            (-5, -5), (INT_MIN, INT_MIN), (INT_MAX, INT_MAX), (np.int64(-3), -3),
                                            (np.float64(2.7), 2)], ids=repr)
def test_theta_conversion(theta, as_int):
    for x, dx in SELECTOR_POINTS:
        assert same(dd(x, dx, theta), DD(x, dx, as_int))
    assert same(dd_cf(5.0, 0.1, theta), DD_CF(5.0, 0.1, as_int))


class HasInt:
    def __int__(self):
        return -1


def test_integer_conversion_uses_dunder_int():
    assert dd(0.0, 0.3, HasInt()) == DD(0.0, 0.3, -1)


@pytest.mark.parametrize("bad, exc, message", [
    ("1", TypeError, "an integer is required"),
    (None, TypeError, "an integer is required"),
    (1j, TypeError, "an integer is required"),
    (2**31, OverflowError, "value too large to convert to int"),
    (INT_MIN - 1, OverflowError, "value too large to convert to int"),
    (2**40, OverflowError, "value too large to convert to int"),
    (2**64, OverflowError, None),   # the interpreter's own message
    (NAN, ValueError, None),
    (INF, OverflowError, None),
], ids=repr)
def test_integer_parameter_errors(bad, exc, message):
    for call in (lambda: dd(1.0, 0.5, bad), lambda: dd_cf(1.0, 0.5, bad),
                 lambda: dd(1.0, 0.5, theta=bad), lambda: dd_cf(1.0, 0.5, n_terms=bad),
                 # reported before anything is done with x or dx
                 lambda: dd("not a number", [1, 2, 3], bad), lambda: dd_cf(object(), None, bad)):
        with pytest.raises(exc) as e:
            call()
        if message is not None:
            assert str(e.value) == message


def test_conversion_errors_in_order():
    # x is converted before dx, and both before the shapes are compared
    with pytest.raises(ValueError, match="'abc'"):
        dd("abc", "xyz")
    with pytest.raises(ValueError, match="'xyz'"):
        dd([1.0, 2.0], "xyz")
    with pytest.raises(TypeError):
        dd_cf(1 + 2j, 0.5)


@pytest.mark.parametrize("call, message", [
    (lambda: dd(1.0), "millsratio_dd() takes at least 2 positional arguments (1 given)"),
    (lambda: dd(dx=0.5), "millsratio_dd() takes at least 2 positional arguments (0 given)"),
    (lambda: dd(), "millsratio_dd() takes at least 2 positional arguments (0 given)"),
    (lambda: dd(1.0, theta=1), "millsratio_dd() takes at least 2 positional arguments (1 given)"),
    (lambda: dd(1.0, 0.5, 1, 2), "millsratio_dd() takes at most 3 positional arguments (4 given)"),
    (lambda: dd(1.0, 0.5, 1, theta=1), "millsratio_dd() got multiple values for keyword argument 'theta'"),
    (lambda: dd(1.0, 0.5, x=1.0), "millsratio_dd() got multiple values for keyword argument 'x'"),
    (lambda: dd(1.0, 0.5, n_terms=3), "millsratio_dd() got an unexpected keyword argument 'n_terms'"),
    (lambda: dd_cf(1.0), "millsratio_dd_cf() takes at least 2 positional arguments (1 given)"),
    (lambda: dd_cf(1.0, 0.5, 4, 5, 6), "millsratio_dd_cf() takes at most 3 positional arguments (5 given)"),
    (lambda: dd_cf(1.0, 0.5, n=1), "millsratio_dd_cf() got an unexpected keyword argument 'n'"),
    (lambda: dd_cf(1.0, 0.5, theta=1), "millsratio_dd_cf() got an unexpected keyword argument 'theta'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_keywords():
    assert dd(x=1.0, dx=0.5, theta=-1) == dd(1.0, 0.5, -1) == dd(1.0, dx=0.5, theta=-1)
    assert dd_cf(dx=0.5, x=30.0, n_terms=8) == dd_cf(30.0, 0.5, 8)
    assert dd(1.0, 0.5) == dd(1.0, 0.5, 1) and dd_cf(30.0, 0.5) == dd_cf(30.0, 0.5, 4)


MODULE_DOC_HEAD = "\n".join([
    "Symmetric divided differences of the Mills ratio R(x) = N(-x)/n(x).",
    "",
    "For a midpoint x and half-step dx (so the two evaluation points are x - dx and x + dx):",
    "",
    "    millsratio_dd(x, dx, theta=+1) = (R(x-dx) - R(x+dx)) / (2 dx)  (difference branch)",
    "    millsratio_dd(x, dx, theta=-1) = (R(dx-x) + R(x+dx)) / (2 dx)  (sum branch; first",
    " " * 37 + "argument reflected so both R-evaluations land on",
    " " * 37 + "positive arguments)",
    "    millsratio_dd_cf(x, dx, n)     = deep-asymptotic cancellation-free divided difference",
    " " * 37 + "via the coupled (V, T, Pa, Pb) recurrence on the",
    " " * 37 + "depth-n CF convergent of R; table-free.",
    "",
    "Note: theta=-1 is NOT the literal arithmetic divided difference -- the first argument is",
    "reflected (R(dx - x) instead of R(x - dx)) so that both R-evaluations land on positive",
    "arguments, avoiding cancellation when x < 0.",
    "",
]) + "\n"

DOCS = {
    "millsratio_dd": "\n".join([
        "Mills-ratio symmetric divided difference:",
        " " * 8 + "theta = +1: returns (R(x-dx) - R(x+dx)) / (2 dx)  (difference branch)",
        " " * 8 + "theta = -1: returns (R(dx-x) + R(x+dx)) / (2 dx)  (sum branch; first argument",
        " " * 20 + "reflected so both R-evaluations land on positive arguments)",
        " " * 4 + "Scalars or broadcastable ndarrays for x, dx; theta scalar (+/-1).  For theta=+1 a",
        " " * 4 + "three-regime split (CF asymp / 5-term R'''-seeded Taylor / direct R difference)",
        " " * 4 + "bounds the relative error at the worst-case boundary; theta=-1 is a pure sum of two",
        " " * 4 + "Mills ratios (no cancellation).",
        " " * 4,
    ]),
    "millsratio_dd_cf": "\n".join([
        "Deep-asymptotic cancellation-free divided difference via the (V, T, P^a, P^b) CF",
        " " * 4 + "recurrence (table-free, algorithmic loop).  n_terms >= 0 supported.  Scalars or",
        " " * 4 + "broadcastable ndarrays for x, dx; n_terms scalar.",
        " " * 4,
    ]),
}


def test_module_surface():
    doc = symdiff.__doc__
    assert doc.startswith(MODULE_DOC_HEAD) and doc.endswith("\n")
    paragraphs = doc[len(MODULE_DOC_HEAD):].rstrip("\n").split("\n\n")
    assert len(paragraphs) == 2
    assert "src/qarvel/_kernels/symdiff" in paragraphs[0]
    assert "_R_DD" in paragraphs[1] and "_R_DD_CF" in paragraphs[1]
    assert symdiff.np is np
    assert [n for n in vars(symdiff) if n in DOCS] == list(DOCS)
    for (name, doc), (sig, default) in zip(DOCS.items(), [("(x, dx, theta=1)", 1), ("(x, dx, n_terms=4)", 4)]):
        f = getattr(symdiff, name)
        assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (name, name, "qarvel.symdiff", doc)
        assert str(inspect.signature(f)) == sig
        assert f.__defaults__ == (default,) and type(f.__defaults__[0]) is int


def test_command_line(capsys):
    from qarvel.__main__ import main
    assert main(["millsratio_dd", "--dx", "0.245", "5", "30"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert [float(s.split()[1]) for s in lines] == [DD(5.0, 0.245, 1), DD(30.0, 0.245, 1)]
    assert main(["millsratio_dd_cf", "--dx=0.1", "--n-terms", "0", "5"]) == 0
    assert float(capsys.readouterr().out.split()[1]) == 0.040016006402561026
    assert main(["millsratio_dd", "--theta", "-1", "--dx", "0.3", "0"]) == 0
    assert float(capsys.readouterr().out.split()[1]) == 3.339458003307186
    assert main(["millsratio_dd", "5"]) == 2          # --dx is required
    capsys.readouterr()
    assert main(["--list"]) == 0
    listing = capsys.readouterr().out
    assert "millsratio_dd " in listing and "millsratio_dd_cf" in listing


# --- what the shared library exports ------------------------------------------------

def _mangled(name, t, extra):
    return f"_ZN6qarvel{len(name)}{name}I{t}EET_S1_{extra}"


EXPORTED_FUNCS = (
    ["qarvel_MillsRatio", "qarvel_MillsRatioDeriv1", "qarvel_MillsRatioDeriv3", "qarvel_MillsRatioRel_below1",
     "qarvel_MillsRatio_CF", "qarvel_MillsRatioDiff", "qarvel_MillsRatioDiff_CF"])
INSTANTIATIONS = [_mangled(n, t, e) for n, e in [("MillsRatio", ""), ("MillsRatioDeriv1", ""),
                                                  ("MillsRatioDeriv3", ""), ("MillsRatioRel_below1", ""),
                                                  ("MillsRatio_CF", "ii"), ("MillsRatioDiff", "S1_i"),
                                                  ("MillsRatioDiff_CF", "S1_i")] for t in "fd"]


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_exported_symbols():
    out = subprocess.run(["nm", "-D", "--defined-only", symdiff.__file__],
                         capture_output=True, text=True, check=True).stdout
    kind = {parts[2]: parts[1] for parts in (line.split() for line in out.splitlines()) if len(parts) == 3}
    assert all(kind.get(s) == "T" for s in EXPORTED_FUNCS + ["PyInit_symdiff"])
    assert len(INSTANTIATIONS) == 14 and all(kind.get(s) == "W" for s in INSTANTIATIONS)
    assert all(kind.get(s) == "R" for s in ("C_Rrel", "C_R1", "C_R3"))
    # and they are the kernels: the entry points forward to the double ones
    assert K.tmpl("MillsRatioDiff", "d")(5.0, 0.245, 1) == DD(5.0, 0.245, 1)
    assert K.tmpl("MillsRatioDiff_CF", "d")(30.0, 1e-3, 8) == DD_CF(30.0, 1e-3, 8)
