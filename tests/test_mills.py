"""qarvel.mills: the Mills-ratio kernels (double and float) and the Python layer."""

import inspect
import math
from fractions import Fraction

import numpy as np
import pytest

import helpers as h
from qarvel import mills

INF, NAN = math.inf, math.nan
K = h.Kernels("qarvel.mills")
CF = K.entry("qarvel_MillsRatio_CF", 1, ints=2)
FLOAT = {name: K.tmpl(name, "f") for name in
         ("MillsRatio", "MillsRatioDeriv1", "MillsRatioDeriv3", "MillsRatioRel_below1")}
CF_F = K.tmpl("MillsRatio_CF", "f")

up = lambda x: float(np.nextafter(x, INF))
down = lambda x: float(np.nextafter(x, -INF))
fup = lambda x: float(np.nextafter(np.float32(x), np.float32(INF)))
fdown = lambda x: float(np.nextafter(np.float32(x), np.float32(-INF)))

R, R1, R3, RREL = (mills.millsratio, mills.millsratio_d1, mills.millsratio_d3,
                   mills.millsratio_rel_below1)


# --- special values, bit for bit -------------------------------------------

SPECIAL = [
    # function, x, double result, float result
    (R, 0.0, 1.2533141373155003, 1.2533141374588013),
    (R, -0.0, 1.2533141373155003, 1.2533141374588013),
    (R, INF, 0.0, 0.0),
    (R, -INF, INF, INF),
    (R, NAN, NAN, NAN),
    (R, -37.67712072049519, INF, INF),      # cutoff itself: reflection, which overflows
    (R, -37.66, INF, INF),                  # overflow of the product above the cutoff
    (R, 6.7e7, 1 / 6.7e7, 1 / 6.7e7),
    (RREL, 0.0, 1.0, 1.0),
    (RREL, -0.0, 1.0, 1.0),
    (RREL, NAN, NAN, NAN),
    (R1, 0.0, 1.0, 1.0),
    (R1, -0.0, 1.0, 1.0),
    (R1, INF, 0.0, 0.0),
    (R1, -INF, INF, INF),
    (R1, NAN, NAN, NAN),
    (R1, -37.67712072049519, INF, INF),
    (R3, 0.0, 2.0, 2.0),
    (R3, -0.0, 2.0, 2.0),
    (R3, INF, 0.0, 0.0),
    (R3, -INF, INF, INF),
    (R3, NAN, NAN, NAN),
    (R3, -37.67712072049519, INF, INF),
]
KERNEL_OF = {R: "MillsRatio", R1: "MillsRatioDeriv1", R3: "MillsRatioDeriv3", RREL: "MillsRatioRel_below1"}


@pytest.mark.parametrize("f, x, want, want_f", SPECIAL,
                         ids=[f"{c[0].__name__}({c[1]})" for c in SPECIAL])
def test_special_values(f, x, want, want_f):
    assert h.bits(f(x)) == h.bits(want) or (math.isnan(want) and math.isnan(f(x)))
    got_f = FLOAT[KERNEL_OF[f]](x)
    assert h.bits(got_f) == h.bits(h.f32(want_f)) or (math.isnan(want_f) and math.isnan(got_f))


def test_far_tail_is_exact_reciprocal():
    xs = np.array([6.7e7, up(6.7e7), 1e10, 3.3e150, 1e300, 1.7976931348623157e308])
    assert np.array_equal(R(xs), 1.0 / xs)


def test_d1_depth2_and_overflow_guard():
    # 1/(x^2 + 3) from 12800 until u = x^2 + 3 exceeds sqrt(DBL_MAX); then +0.
    xs = np.array([12800.0, 1e6, 1e40, down(1.157920892373162e77)])
    assert np.array_equal(R1(xs), 1.0 / (xs * xs + 3.0))
    assert R1(1.157920892373162e77) == 0.0 and R1(1e200) == 0.0
    assert R3(1.157920892373162e77) == 0.0 and R3(down(1.157920892373162e77)) > 0.0
    # float guard, 2^64 - 2^40, reached from x = 2^32
    assert FLOAT["MillsRatioDeriv1"](2.0**32) == 0.0 and FLOAT["MillsRatioDeriv1"](fdown(2.0**32)) > 0.0
    assert FLOAT["MillsRatioDeriv3"](2.0**32) == 0.0 and FLOAT["MillsRatioDeriv3"](fdown(2.0**32)) > 0.0


# --- exact identities ------------------------------------------------------

ON_01 = np.unique(np.concatenate([np.linspace(0, 1, 1201), np.arange(13) / 12,
                                  [up(k / 12) for k in range(12)], [down(k / 12) for k in range(1, 13)]]))


def test_R_from_relative_function_bitwise():
    # R(x) = sqrt(pi/2) - x f_rel(x) on [0, 1]: the same lookup serves both
    assert np.array_equal(R(ON_01), 1.2533141373155003 - ON_01 * RREL(ON_01))
    s = np.float32(1.2533141374588013)
    for x in ON_01[::50].astype(np.float32):
        want = s - x * np.float32(FLOAT["MillsRatioRel_below1"](float(x)))
        assert FLOAT["MillsRatio"](float(x)) == float(want)


def test_d1_is_one_minus_x_R_on_unit_interval_bitwise():
    assert np.array_equal(R1(ON_01), 1.0 - ON_01 * R(ON_01))


# Depth switch points: (kernel, threshold, depth at and above it, depth just below,
# d of the continued fraction).  The comparisons are inclusive at each lower end.
R_DEPTHS = [(9.5, 12, None), (11.4, 10, 12), (15.1, 8, 10), (24.1, 6, 8), (59.3, 4, 6), (548, 2, 4)]
R1_DEPTHS = [(11.5, 12, None), (14.5, 10, 12), (21.2, 8, 10), (41, 6, 8), (165, 4, 6), (12800, 2, 4)]
R3_DEPTHS = [(17.1, 12, None), (25.4, 10, 12), (50.5, 8, 10), (210, 6, 8), (17300, 4, 6)]
SWITCHES = ([("MillsRatio", t, n, m, 0) for t, n, m in R_DEPTHS]
            + [("MillsRatioDeriv1", t, n, m, 1) for t, n, m in R1_DEPTHS]
            + [("MillsRatioDeriv3", t, n, m, 3) for t, n, m in R3_DEPTHS])
PY_OF = {"MillsRatio": R, "MillsRatioDeriv1": R1, "MillsRatioDeriv3": R3}


@pytest.mark.parametrize("kernel, t, depth, below, d", SWITCHES,
                         ids=[f"{c[0]}@{c[1]}" for c in SWITCHES])
def test_depth_switch_points(kernel, t, depth, below, d):
    arg = (lambda x: x) if d == 0 else (lambda x: x * x + 3.0)
    f = PY_OF[kernel]
    assert f(t) == CF(arg(t), depth, d)
    assert f(up(t)) == CF(arg(up(t)), depth, d)
    if below is not None:
        assert f(down(t)) == CF(arg(down(t)), below, d)
    # float: the threshold is the float nearest to the decimal
    tf = h.f32(t)
    argf = (lambda x: x) if d == 0 else (lambda x: h.f32(h.f32(x * x) + 3.0))
    assert FLOAT[kernel](tf) == CF_F(argf(tf), depth, d)
    if below is not None:
        assert FLOAT[kernel](fdown(tf)) == CF_F(argf(fdown(tf)), below, d)


def _depth(x, table):
    # deepest first: the depth of the highest threshold that x has reached
    return [n for t, n, _ in table if x >= t][-1]


@pytest.mark.parametrize("f, table, lo, hi, d", [
    (R, R_DEPTHS, 9.5, 6.7e7, 0), (R1, R1_DEPTHS, 11.5, 1e70, 1), (R3, R3_DEPTHS, 17.1, 1e70, 3)],
    ids=["R", "R1", "R3"])
def test_continued_fraction_regimes_equal_the_entry_point(f, table, lo, hi, d):
    # Every point of a continued-fraction regime, float and double, is exactly
    # the depth-n approximant of the public entry point at the depth chosen.
    xs = np.exp(RNG.uniform(np.log(lo), np.log(hi), 3000))
    arg = xs if d == 0 else xs * xs + 3.0
    want = [CF(a, _depth(x, table), d) for x, a in zip(xs, arg)]
    assert h.bits_array(f(xs)) == h.bits_array(want)
    kernel = {R: "MillsRatio", R1: "MillsRatioDeriv1", R3: "MillsRatioDeriv3"}[f]
    for x in {h.f32(v) for v in xs[:300] if v < 4e9}:
        a = x if d == 0 else h.f32(h.f32(x * x) + 3.0)
        assert FLOAT[kernel](x) == CF_F(a, _depth(x, [(h.f32(t), n, m) for t, n, m in table]), d)


def test_float_thresholds_are_nearest_floats():
    # 59.3 in float is 59.29999923706055, below the double 59.3
    assert h.f32(59.3) == 59.29999923706055 and h.f32(24.1) == 24.100000381469727
    assert FLOAT["MillsRatio"](59.29999923706055) == CF_F(59.29999923706055, 4, 0)
    assert FLOAT["MillsRatio"](fdown(59.3)) == CF_F(fdown(59.3), 6, 0)


# Neighbouring doubles on the two sides of every switch point stay close.
SWITCH_POINTS = [(R, h.R, t) for t in (1.0, 9.5, 11.4, 15.1, 24.1, 59.3, 548.0, 6.7e7)] \
    + [(R1, h.R1, t) for t in (1.0, 11.5, 14.5, 21.2, 41.0, 165.0, 12800.0)] \
    + [(R3, h.R3, t) for t in (17.1, 25.4, 50.5, 210.0, 17300.0)]


@pytest.mark.parametrize("f, ref, t", SWITCH_POINTS, ids=[f"{c[0].__name__}@{c[2]}" for c in SWITCH_POINTS])
def test_switch_point_continuity(f, ref, t):
    # x = 1 itself belongs to the lower regime, every other switch point to the upper
    sides = (t, up(t)) if t == 1.0 else (down(t), t)
    lo, hi = f(sides[0]), f(sides[1])
    if f is R:
        assert h.ulps_apart(lo, hi) <= 2
    else:
        # both sides within 4e-16 of the true value (1.66 2^-52 = 3.7e-16
        # measured at 165 and 17300)
        for x, y in zip(sides, (lo, hi)):
            assert h.rel_err(y, ref(x)) * 2.0**-52 < 4e-16


def test_R_across_one():
    # 2 units apart, the two regimes meeting at x = 1
    assert (R(1.0), R(up(1.0))) == (0.6556795424187986, 0.6556795424187983)


def test_reflection_identities():
    # R(x) + R(-x) = sqrt(2 pi) exp(x^2/2), and its first and third derivatives,
    # to within the rounding of the reflection (exponent error about x^2 2^-53),
    # magnified by any cancellation in forming the left-hand side
    for x in np.linspace(0.05, 20.0, 41):
        e = h.mp.sqrt(2 * h.mp.pi) * h.mp.exp(h.mp.mpf(x) ** 2 / 2)
        for lhs, a, b, rhs in [(R(-x) + R(x), R(-x), R(x), e),
                               (R1(-x) - R1(x), R1(-x), R1(x), x * e),
                               (R3(-x) - R3(x), R3(-x), R3(x), x * (x * x + 3) * e)]:
            assert h.rel_err(lhs, rhs) <= (4 + x * x / 2) * (a + b) / abs(lhs), x


# --- continued fractions -----------------------------------------------------

def test_cf_selectors():
    # depth 2 is special-cased; every unlisted depth uses depth 12; any d other
    # than 1 or 3 returns the d = 0 form without squaring its argument
    u = 50.0
    assert CF(u, 2, 3) == 0.0 and CF(u, 2, 1) == 1 / u and CF(u, 2, 7) == 0.0
    for n in (0, 1, 3, 13, -2, 2147483647, -2147483648):
        assert CF(u, n, 1) == CF(u, 12, 1) and CF(u, n, 3) == CF(u, 12, 3)
    assert CF(7.0, 6, 5) == CF(7.0, 6, -1) != CF(7.0, 6, 0)


def _cf_exact(x, n):
    """R_n(x) = 1/(x + 1/(x + 2/(x + ... + n/x))) in exact rational arithmetic."""
    x = Fraction(x)
    t = x
    for k in range(n, 0, -1):
        t = x + k / t
    return 1 / t


@pytest.mark.parametrize("n", [2, 4, 6, 8, 10, 12])
def test_cf_against_exact_fraction(n):
    xs = [0.05, 0.3, 1.0, 2.5, 9.5, 30.0, 1e3, 1e8, 1e20]
    for x in xs:
        # below x = 1 the deeper approximants reach 6 2^-52 (no kernel uses them there)
        tol = 6.5 if x < 1 and n >= 8 else 3.5
        assert h.rel_err(CF(x, n, 0), _cf_exact(x, n)) < tol, x
    # d = 1 and d = 3: delta/D and gamma/D against the exact relations applied
    # to R_n, at x whose u = x^2 + 3 is exact
    for x in (2.0, 12.0, 100.0, 4096.0):
        u = x * x + 3.0
        rn = _cf_exact(x, n)
        assert h.rel_err(CF(u, n, 1), 1 - Fraction(x) * rn) < 3.5
        if n > 2:
            d3 = (Fraction(x) ** 2 + 2) - Fraction(x) * (Fraction(x) ** 2 + 3) * rn
            assert h.rel_err(CF(u, n, 3), d3) < 3.5


# --- accuracy against mpmath ---------------------------------------------------

RNG = np.random.default_rng(20261211)


def _sample(lo, hi, n=300):
    if lo > 0 and hi / lo > 100:
        return np.exp(RNG.uniform(np.log(lo), np.log(hi), n))
    return RNG.uniform(lo, hi, n)


# function, reference, interval, tolerance in units of 2^-52 relative.  Worst
# points found by dense sweeps are added to each sample.
ACCURACY = [
    (R, h.R, (-1, 0), 2.5, [-0.10668475575440284]),
    (R, h.R, (0, 1), 2.5, [0.9985588906517041]),
    (R, h.R, (1, 9.5), 2.5, []),
    (R, h.R, (9.5, 59.3), 2.5, [15.777331317886905]),
    (R, h.R, (59.3, 6.7e7), 2.5, [59.52580332307428]),
    (R, h.R, (6.7e7, 1e300), 2.5, []),
    (R1, h.R1, (-1, 0), 3.75, []),
    (R1, h.R1, (0, 1), 3.75, [0.99989, 0.9552989251667353]),
    (R1, h.R1, (1, 11.5), 3.75, [11.444483477732014]),
    (R1, h.R1, (11.5, 165), 3.75, [41.07499321376488]),
    (R1, h.R1, (165, 1e70), 3.75, []),
    (R3, h.R3, (-1, 0), 3.5, []),
    (R3, h.R3, (0, 17.1), 3.5, [11.99923615212283]),
    (R3, h.R3, (17.1, 210), 3.5, [17.530232955732572]),
    (R3, h.R3, (210, 1e70), 3.5, [14646.589320751107]),
    (RREL, h.Rrel, (0, 1), 2.5, []),
]


@pytest.mark.parametrize("f, ref, interval, tol, extra", ACCURACY,
                         ids=[f"{c[0].__name__}{c[2]}" for c in ACCURACY])
def test_accuracy(f, ref, interval, tol, extra):
    xs = np.concatenate([_sample(*interval), extra])
    err, x = h.worst(lambda v: f(float(v)), ref, xs)
    assert err <= tol, f"{err:.2f} ulp at x = {x!r}"


@pytest.mark.parametrize("f, ref", [(R, h.R), (R1, h.R1), (R3, h.R3)], ids=["R", "R1", "R3"])
def test_accuracy_negative_tail(f, ref):
    # The rounding of the exponent (x/2) x dominates: about (x^2/2) 2^-53.
    for x in _sample(-37.3, -1, 200):
        assert h.rel_err(f(x), ref(x)) <= x * x / 4 + 3, x


# Float instantiations: tolerance in units of 2^-23 relative, for x >= -1.
FLOAT_ACCURACY = [("MillsRatio", h.R, 2.0), ("MillsRatioDeriv1", h.R1, 2.5),
                  ("MillsRatioDeriv3", h.R3, 3.5), ("MillsRatioRel_below1", h.Rrel, 2.0)]


@pytest.mark.parametrize("kernel, ref, tol", FLOAT_ACCURACY, ids=[c[0] for c in FLOAT_ACCURACY])
def test_float_accuracy(kernel, ref, tol):
    f = FLOAT[kernel]
    pieces = [(0, 1)] if kernel == "MillsRatioRel_below1" else [(-1, 0), (0, 1), (1, 30), (30, 1e6), (1e6, 4e9)]
    for lo, hi in pieces:
        for x in {h.f32(v) for v in _sample(lo, hi, 150)}:
            assert h.rel_err(f(x), ref(x)) * 2.0**-29 <= tol, x


# --- the Python layer ----------------------------------------------------------

FUNCS = [R, R1, R3, RREL]


@pytest.mark.parametrize("x", [0.5, np.float32(0.5), np.float64(0.5), np.array(0.5), np.int8(0), True],
                         ids=repr)
def test_zero_dimensional_gives_python_float(x):
    got = R(x)
    assert type(got) is float and got == R(float(x))


@pytest.mark.parametrize("x, shape", [([0.5], (1,)), ([], (0,)), (np.empty((2, 0)), (2, 0)),
                                      (np.arange(6).reshape(2, 3), (2, 3)),
                                      (np.array([[True], [False]]), (2, 1))])
def test_array_shapes(x, shape):
    for f in (R, R1, R3):
        got = f(x)
        assert isinstance(got, np.ndarray) and got.dtype == np.float64 and got.shape == shape
        assert got.flags.c_contiguous and got.flags.writeable


def _layouts():
    base = np.linspace(0.0, 1.0, 24).reshape(4, 6)
    return {
        "strided": base.ravel()[::2],
        "transposed": base.T,
        "fortran": np.asfortranarray(base),
        "float32": base.astype(np.float32),
        "big-endian": base.astype(">f8"),
        "readonly-float32": np.require(base.astype(np.float32), requirements="C").copy(),
        "readonly-strided": base.ravel()[::3],
        "view": base[1:3, 2:5],
    }


@pytest.mark.parametrize("name", list(_layouts()))
def test_any_layout_matches_elementwise(name):
    x = _layouts()[name]
    if name.startswith("readonly"):
        x.flags.writeable = False
    before = x.copy()
    for f in FUNCS:
        got = f(x)
        assert got.shape == x.shape and got.flags.c_contiguous
        want = [f(float(v)) for v in np.asarray(x, dtype=np.float64).ravel()]
        assert h.bits_array(got) == h.bits_array(np.array(want).reshape(x.shape))
        assert not np.shares_memory(got, x)
    np.testing.assert_array_equal(x, before)


def test_argument_never_written_and_result_fresh():
    x = np.linspace(-2.0, 2.0, 9)
    keep = x.copy()
    out = R(x)
    assert np.array_equal(x, keep) and not np.shares_memory(out, x)


def test_readonly_contiguous_float64_rejected():
    x = np.linspace(0.0, 1.0, 5)
    x.flags.writeable = False
    for f in FUNCS:
        with pytest.raises(ValueError, match="read-only"):
            f(x)
    with pytest.raises(ValueError, match="read-only"):
        R(np.frombuffer(bytes(16)))


@pytest.mark.parametrize("x", [0.0, -0.0, 1.0, 1, True, NAN, [0.25, NAN, 1.0]], ids=repr)
def test_rel_below1_accepts(x):
    got = RREL(x)
    assert np.all(np.isnan(got) | (got <= 1.0))


@pytest.mark.parametrize("x", [up(1.0), -5e-324, INF, -INF, [0.5, 0.25, 1.5], [[0.0], [-0.5]]], ids=repr)
def test_rel_below1_rejects(x):
    with pytest.raises(ValueError) as e:
        RREL(x)
    assert str(e.value) == "millsratio_rel_below1 requires 0 <= x <= 1."


def test_conversion_errors_propagate():
    with pytest.raises((TypeError, ValueError)):
        R("abc")
    with pytest.raises(TypeError):
        R(1 + 2j)


@pytest.mark.parametrize("call, message", [
    (lambda: R(), "millsratio() takes exactly 1 positional argument (0 given)"),
    (lambda: R(1.0, 2.0), "millsratio() takes exactly 1 positional argument (2 given)"),
    (lambda: R1(y=1.0), "millsratio_d1() got an unexpected keyword argument 'y'"),
    (lambda: R3(1.0, x=1.0), "millsratio_d3() got multiple values for keyword argument 'x'"),
    (lambda: RREL(), "millsratio_rel_below1() takes exactly 1 positional argument (0 given)"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_keyword_argument():
    assert R(x=0.5) == R(0.5)


DOCS = {
    "millsratio": "Mills ratio R(x) = N(-x)/n(x); scalar or ndarray, any x.",
    "millsratio_d1": "-R'(x) = 1 - x R(x); scalar or ndarray, any x.",
    "millsratio_d3": "-R'''(x); scalar or ndarray, any x.",
    "millsratio_rel_below1": "(sqrt(pi/2) - R(x))/x; scalar or ndarray, 0 <= x <= 1.",
}


def test_module_surface():
    assert mills.__doc__.startswith(
        "Mills ratio R(x) = N(-x)/n(x), -R'(x), -R'''(x), plus (sqrt(pi/2) - R(x))/x on [0, 1].\n\n")
    for name in ("_R", "_R1", "_R3", "_R013_CF", "_Rrel_below1", "src/qarvel/_kernels/mills"):
        assert name in mills.__doc__
    assert mills.np is np
    assert [n for n in vars(mills) if n in DOCS] == list(DOCS)
    for name, doc in DOCS.items():
        f = getattr(mills, name)
        assert (f.__name__, f.__qualname__, f.__module__, f.__doc__) == (name, name, "qarvel.mills", doc)
        assert str(inspect.signature(f)) == "(x)"


def test_exported_symbols():
    # entry points and tables as they are; instantiations demangled, weak
    import subprocess
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", mills.__file__],
                         check=True, capture_output=True, text=True).stdout
    symbols = {line.split(None, 2)[2]: line.split(None, 2)[1] for line in out.splitlines()}
    for name in ("qarvel_MillsRatio", "qarvel_MillsRatioDeriv1", "qarvel_MillsRatioDeriv3",
                 "qarvel_MillsRatioRel_below1", "qarvel_MillsRatio_CF"):
        assert symbols[name] == "T"
    for table in ("C_Rrel", "C_R1", "C_R3"):
        assert symbols[table] == "R"
    for t in ("float", "double"):
        for name in ("MillsRatio", "MillsRatioDeriv1", "MillsRatioDeriv3", "MillsRatioRel_below1"):
            assert symbols[f"{t} qarvel::{name}<{t}>({t})"] == "W"
        assert symbols[f"{t} qarvel::MillsRatio_CF<{t}>({t}, int, int)"] == "W"
