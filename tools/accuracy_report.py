"""Accuracy report: every qarvel function against mpmath, beside the formula a
user would otherwise write.

    python tools/accuracy_report.py [--points N] [--outdir DIR]

Runs against the installed package (never the source tree).  For each
function and each of its regimes it evaluates a dense, seeded sweep of
arguments, both signs where the function takes them, and measures the
relative error of qarvel and of the peer formula against 50-digit mpmath
references (the references of tests/helpers.py), in units of 2^-52.  It
writes

    DIR/accuracy.md    table: peak, median and RMS error per regime
    DIR/accuracy.png   error against x, one panel per function

A peer result that is infinite or NaN where the true value is a finite double
is counted as lost, not as an error.  The output depends only on the seed, the
number of points and the versions of NumPy, SciPy and mpmath.
"""

import argparse
import math
import sys
import time
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import mpmath as mp
import numpy as np
import scipy
from scipy.special import erfcx

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import helpers  # noqa: E402  (the mpmath references shared with the tests)

import qarvel  # noqa: E402
from qarvel import mills, relmeans, symdiff  # noqa: E402

SEED = 20261211
POINTS = 4000          # per regime


# ---------------------------------------------------------------------------
# The peer formulas: what a user would write with NumPy and SciPy

SQRT_PI_2 = math.sqrt(math.pi / 2)


def R_peer(x):
    return SQRT_PI_2 * erfcx(x / math.sqrt(2.0))


def R1_peer(x):
    return 1.0 - x * R_peer(x)


def R3_peer(x):
    return (x * x + 2.0) - x * (x * x + 3.0) * R_peer(x)


def Rrel_peer(x):
    return (SQRT_PI_2 - R_peer(x)) / x


def dd_peer(x, dx):
    return (R_peer(x - dx) - R_peer(x + dx)) / (2.0 * dx)


def dd_sum_peer(x, dx):
    return (R_peer(dx - x) + R_peer(x + dx)) / (2.0 * dx)


def Rn_double(x, n):
    """The depth-n continued fraction 1/(x + 1/(x + 2/(x + ... + n/x))) in
    double, from the bottom up."""
    t = n / x
    for k in range(n - 1, 0, -1):
        t = k / (x + t)
    return 1.0 / (x + t)


def dd_cf_peer(x, dx, n):
    return (Rn_double(x - dx, n) - Rn_double(x + dx, n)) / (2.0 * dx)


def logrel_peer(x):
    r = np.log1p(x) / x
    r[x == 0] = 1.0
    return r


def powrel_peer(x, a):
    return np.expm1(a * np.log1p(x)) / (a * x)


# ---------------------------------------------------------------------------
# References: exact values at the double arguments, as mpf

WORK = helpers.DIGITS + 10


EXACT = 2200   # bits: enough for the exact sum of any two doubles


def ref_dd(x, dx):
    """(R(x - dx) - R(x + dx))/(2 dx) at the exact points.  helpers.R works
    to DIGITS + 10 digits at least, far more than the difference cancels for
    the half-steps of this report (at most about ten digits)."""
    with mp.workprec(EXACT):
        a = mp.mpf(x) - mp.mpf(dx)
        b = mp.mpf(x) + mp.mpf(dx)
    ra, rb = helpers.R(a), helpers.R(b)
    with mp.workdps(WORK + _cancel_digits(x, dx)):
        return +((ra - rb) / (2 * mp.mpf(dx)))


def ref_dd_sum(x, dx):
    """(R(dx - x) + R(x + dx))/(2 dx): a sum of positive terms."""
    with mp.workprec(EXACT):
        a = mp.mpf(dx) - mp.mpf(x)
        b = mp.mpf(x) + mp.mpf(dx)
    ra, rb = helpers.R(a), helpers.R(b)
    with mp.workdps(WORK):
        return +((ra + rb) / (2 * mp.mpf(dx)))


def _cancel_digits(x, dx):
    """Digits that R(x - dx) - R(x + dx) loses: about log10(max(1, |x|)/dx)."""
    return max(0, int(math.log10(max(1.0, abs(x)) / abs(dx))) + 2)


def _Rn(x, n):
    t = n / x
    for k in range(n - 1, 0, -1):
        t = k / (x + t)
    return 1 / (x + t)


def ref_dd_cf(x, dx, n):
    """(R_n(x - dx) - R_n(x + dx))/(2 dx), R_n the exact depth-n continued
    fraction, at the exact points."""
    with mp.workdps(WORK + _cancel_digits(x, dx)):
        x, dx = mp.mpf(x), mp.mpf(dx)
        return +((_Rn(x - dx, n) - _Rn(x + dx, n)) / (2 * dx))


def ref_logrel(x):
    if x == 0:
        return mp.mpf(1)
    with mp.workdps(WORK):
        x = mp.mpf(x)
        return +(mp.log1p(x) / x)


def ref_powrel(x, a):
    """((1 + x)^a - 1)/(a x); three more digits cover the exponential's
    magnification of the rounding of a log1p(x) for |a log1p(x)| < 710."""
    if x == 0:
        return mp.mpf(1)
    if a == 0:
        return ref_logrel(x)
    with mp.workdps(WORK + 3):
        x, a = mp.mpf(x), mp.mpf(a)
        return +(mp.expm1(a * mp.log1p(x)) / (a * x))


# ---------------------------------------------------------------------------
# Sampling

def _rng(key):
    """A generator of its own for each row, so that rows do not shift one
    another's points."""
    return np.random.default_rng([SEED, zlib.crc32(key.encode())])


def _scale(lo, hi, scale):
    """Forward and inverse maps of the sampling scale on [lo, hi]:
    'lin' (x itself), 'log' (log |x|, one sign) or 'pole' (log(1 + x), for
    ranges that end at -1)."""
    if scale == "lin":
        return (lambda v: v), (lambda u: u)
    if scale == "log":
        s = math.copysign(1.0, lo if lo != 0 else hi)
        return (lambda v: np.log(np.abs(v))), (lambda u: s * np.exp(u))
    if scale == "pole":
        return (lambda v: np.log1p(v)), (lambda u: np.expm1(u))
    raise ValueError(scale)


def line(key, lo, hi, n, scale="lin", lo_open=False, hi_open=True, extra=()):
    """About n points in the interval from lo to hi (ends open or closed as
    given), half evenly spaced and half uniformly random on the scale, plus
    both end points (or the doubles next to open ends) and the extra points."""
    fwd, inv = _scale(lo, hi, scale)
    ulo, uhi = sorted((float(fwd(np.float64(lo))), float(fwd(np.float64(hi)))))
    u = np.concatenate([np.linspace(ulo, uhi, n // 2), _rng(key).uniform(ulo, uhi, n - n // 2)])
    ends = [np.nextafter(lo, math.inf) if lo_open else lo,
            np.nextafter(hi, -math.inf) if hi_open else hi]
    x = np.concatenate([inv(u), ends])
    keep = (x > lo if lo_open else x >= lo) & (x < hi if hi_open else x <= hi)
    return np.unique(np.concatenate([x[keep], np.asarray(extra, dtype=float)]))


def pairs(key, n, x_draw, dx_draw, accept):
    """n points (x, dx) drawn by x_draw(rng, m) and dx_draw(rng, x) and kept
    where accept(x, dx) holds, sorted by x."""
    rng = _rng(key)
    xs, dxs = [], []
    got = 0
    while got < n:
        x = x_draw(rng, 4 * n)
        dx = dx_draw(rng, x)
        ok = accept(x, dx)
        xs.append(x[ok])
        dxs.append(dx[ok])
        got += int(ok.sum())
    x, dx = np.concatenate(xs)[:n], np.concatenate(dxs)[:n]
    order = np.argsort(x, kind="stable")
    return x[order], dx[order]


def loguniform(rng, lo, hi, size):
    return np.exp(rng.uniform(math.log(lo), math.log(hi), size))


def small_bound(x):
    """The half-step below which millsratio_dd takes its series or
    continued-fraction regime, rounded as the kernel rounds it."""
    return (1.25 + x) * 0.0392


# ---------------------------------------------------------------------------
# Rows of the report

@dataclass
class Row:
    panel: str                         # the function, one plot panel each
    regime: str                        # label in the table
    args: tuple                        # arrays of arguments; args[0] is x
    ours: Callable                     # qarvel, vectorised
    peer: Callable                     # the peer formula, vectorised
    ref: Callable                      # mpmath reference at one point
    err: np.ndarray = None             # qarvel's errors, NaN where lost
    peer_err: np.ndarray = None        # the peer's errors, NaN where lost


def mills_rows(n):
    R, R1, R3 = helpers.R, helpers.R1, helpers.R3
    table = [("millsratio", mills.millsratio, R_peer, R, [
            ("-37.6 <= x < -1: reflection", -37.6, -1.0, "log", {}),
            ("-1 <= x < 0: reflection", -1.0, 0.0, "lin", {}),
            ("0 <= x <= 1: table", 0.0, 1.0, "lin", {"hi_open": False}),
            ("1 < x < 9.5: table", 1.0, 9.5, "log", {"lo_open": True}),
            ("9.5 <= x < 59.3: CF depth 12 to 6", 9.5, 59.3, "log", {}),
            ("59.3 <= x < 6.7e7: CF depth 4, 2", 59.3, 6.7e7, "log", {}),
            ("6.7e7 <= x <= 1e300: 1/x", 6.7e7, 1e300, "log", {"hi_open": False}),
        ]),
        ("millsratio_d1", mills.millsratio_d1, R1_peer, R1, [
            ("-37.55 <= x < -1: reflection", -37.55, -1.0, "log", {}),
            ("-1 <= x < 0: reflection", -1.0, 0.0, "lin", {}),
            ("0 <= x <= 1: table", 0.0, 1.0, "lin", {"hi_open": False}),
            ("1 < x < 11.5: table", 1.0, 11.5, "log", {"lo_open": True}),
            ("11.5 <= x < 41: CF depth 12 to 8", 11.5, 41.0, "log", {}),
            ("41 <= x < 12800: CF depth 6, 4", 41.0, 12800.0, "log", {}),
            ("12800 <= x <= 1e77: 1/(x^2 + 3)", 12800.0, 1e77, "log", {"hi_open": False}),
        ]),
        ("millsratio_d3", mills.millsratio_d3, R3_peer, R3, [
            ("-37.36 <= x < -1: reflection", -37.36, -1.0, "log", {}),
            ("-1 <= x < 0: reflection", -1.0, 0.0, "lin", {}),
            ("0 <= x < 17.1: table", 0.0, 17.1, "lin", {}),
            ("17.1 <= x < 50.5: CF depth 12, 10", 17.1, 50.5, "log", {}),
            ("50.5 <= x < 17300: CF depth 8, 6", 50.5, 17300.0, "log", {}),
            ("17300 <= x <= 1e77: CF depth 4", 17300.0, 1e77, "log", {"hi_open": False}),
        ]),
        ("millsratio_rel_below1", mills.millsratio_rel_below1, Rrel_peer, helpers.Rrel, [
            ("0 <= x < 0.01", 1e-15, 0.01, "log", {"extra": [0.0]}),
            ("0.01 <= x <= 1", 0.01, 1.0, "lin", {"hi_open": False}),
        ]),
    ]
    rows = []
    for panel, ours, peer, ref, regimes in table:
        for label, lo, hi, scale, kw in regimes:
            x = line(f"{panel} {label}", lo, hi, n, scale, **kw)
            rows.append(Row(panel, label, (x,), ours, peer, ref))
    return rows


def symdiff_rows(n):
    rows = []
    dd = symdiff.millsratio_dd

    def add(label, x, dx):
        rows.append(Row("millsratio_dd", label, (x, dx), dd, dd_peer, ref_dd))

    def small(rng, x):
        # half-steps log-uniform over six decades below the regime bound
        return small_bound(x) * loguniform(rng, 1e-6, 1.0, x.size)

    key = "millsratio_dd"
    add("series: -1.25 < x < 0, small dx",
        *pairs(f"{key} series neg", n, lambda r, m: r.uniform(-1.25, 0.0, m), small,
               lambda x, dx: (x > -1.25) & (dx < small_bound(x)) & (dx > 0)))
    add("series: x >= 0, small dx, x - dx < 21.2",
        *pairs(f"{key} series", n, lambda r, m: r.uniform(0.0, 22.2, m), small,
               lambda x, dx: (dx < small_bound(x)) & (x - dx < 21.2)))
    add("CF: 21.2 <= x - dx < 165, small dx (depth 8, 6)",
        *pairs(f"{key} cf low", n, lambda r, m: loguniform(r, 21.2, 172.0, m), small,
               lambda x, dx: (x - dx >= 21.2) & (x - dx < 165.0)))
    add("CF: x - dx >= 165, small dx, x <= 1e50 (depth 4, 2)",
        *pairs(f"{key} cf high", n, lambda r, m: loguniform(r, 165.0, 1e50, m), small,
               lambda x, dx: x - dx >= 165.0))
    add("direct: x >= 0, dx >= 0.0392(x + 1.25), x - dx >= -37",
        *pairs(f"{key} direct", n, lambda r, m: np.where(
                   r.random(m) < 0.5, r.uniform(0.0, 10.0, m), loguniform(r, 10.0, 1e6, m)),
               lambda r, x: small_bound(x) * loguniform(r, 1.0, 30.0, x.size),
               lambda x, dx: (dx >= small_bound(x)) & (x - dx >= -37.0)))
    add("direct: x < 0, 1e-3 <= dx <= 30, x - dx >= -37",
        *pairs(f"{key} direct neg", n, lambda r, m: r.uniform(-30.0, 0.0, m),
               lambda r, x: loguniform(r, 1e-3, 30.0, x.size),
               lambda x, dx: ~(dx < small_bound(x)) & (x - dx >= -37.0)))

    x, dx = pairs(f"{key} sum", n, lambda r, m: r.uniform(-30.0, 30.0, m),
                  lambda r, x: loguniform(r, 1e-3, 30.0, x.size),
                  lambda x, dx: (dx - x >= -37.0) & (x + dx >= -37.0))
    rows.append(Row("millsratio_dd", "sum (theta = -1): -30 <= x <= 30, 1e-3 <= dx <= 30",
                    (x, dx), lambda x, dx: dd(x, dx, -1), dd_sum_peer, ref_dd_sum))

    key = "millsratio_dd_cf"
    # the depths that millsratio_dd uses, where it uses them, and the
    # default depth below that
    for n_terms, lo, hi, label in [
        (4, 1.0, 21.2, "n_terms = 4 (default): 1 <= x - dx < 21.2, small dx"),
        (8, 21.2, 41.0, "n_terms = 8: 21.2 <= x - dx < 41, small dx"),
        (6, 41.0, 165.0, "n_terms = 6: 41 <= x - dx < 165, small dx"),
        (4, 165.0, 12800.0, "n_terms = 4: 165 <= x - dx < 12800, small dx"),
        (2, 12800.0, 1e50, "n_terms = 2: 12800 <= x - dx, x <= 1e50, small dx"),
    ]:
        x, dx = pairs(f"{key} {n_terms} {lo}", n,
                      lambda r, m, lo=lo, hi=hi: loguniform(r, lo, hi * 1.05, m), small,
                      lambda x, dx, lo=lo, hi=hi: (x - dx >= lo) & (x - dx < hi) & (x <= 1e50))
        rows.append(Row(key, label, (x, dx),
                        lambda x, dx, k=n_terms: symdiff.millsratio_dd_cf(x, dx, k),
                        lambda x, dx, k=n_terms: dd_cf_peer(x, dx, k),
                        lambda x, dx, k=n_terms: ref_dd_cf(x, dx, k)))
    return rows


def relmeans_rows(n):
    rows = []
    for label, lo, hi, scale, kw in [
        # log-spaced in 1 + x from 1e-15, and in |x| down to 1e-20
        ("-1 < x <= -0.5", -1.0 + 1e-15, -0.5, "pole", {"hi_open": False}),
        ("-0.5 < x < 0", -0.5, -1e-20, "log", {"lo_open": True, "hi_open": False}),
        ("0 <= x <= 1", 1e-20, 1.0, "log", {"hi_open": False, "extra": [0.0]}),
        ("1 < x <= 1e300", 1.0, 1e300, "log", {"lo_open": True, "hi_open": False}),
    ]:
        x = line(f"logrel {label}", lo, hi, n, scale, **kw)
        rows.append(Row("logrel", label, (x,), relmeans.logrel, logrel_peer, ref_logrel))

    # powrel: rows by the size of the exponent y = a log1p(x), which decides
    # how far the rounding of y is magnified
    rng = _rng("powrel")
    m = 40 * n
    # x: a quarter each near the pole -1, in (-0.5, 0), in (0, 1] and in
    # (1, 1e100]; a: log-uniform magnitude in [1e-12, 1e3], either sign
    kind = rng.integers(0, 4, m)
    x = np.choose(kind, [loguniform(rng, 1e-15, 0.5, m) - 1.0,
                         -loguniform(rng, 1e-16, 0.5, m),
                         loguniform(rng, 1e-16, 1.0, m),
                         loguniform(rng, 1.0, 1e100, m)])
    a = np.where(rng.random(m) < 0.5, -1.0, 1.0) * loguniform(rng, 1e-12, 1e3, m)
    x[:20] = 0.0          # x = 0: 1 for every a
    with np.errstate(all="ignore"):
        y = a * np.log1p(x)
    bins = [
        ("|a log1p(x)| < 1e-3 (x = 0 included)", np.abs(y) < 1e-3),
        ("1e-3 <= |a log1p(x)| < 1", (np.abs(y) >= 1e-3) & (np.abs(y) < 1)),
        ("1 <= a log1p(x) < 700", (y >= 1) & (y < 700)),
        ("-700 < a log1p(x) <= -1", (y <= -1) & (y > -700)),
    ]
    for label, sel in bins:
        idx = np.flatnonzero(sel)[:n]
        o = np.argsort(x[idx], kind="stable")
        rows.append(Row("powrel", label, (x[idx][o], a[idx][o]), relmeans.powrel, powrel_peer,
                        ref_powrel))
    xa = np.unique(np.concatenate([-loguniform(rng, 1e-15, 1.0, n // 3),
                                   loguniform(rng, 1e-16, 1e10, n - n // 3)]))
    a0 = np.where(np.arange(xa.size) % 2, 0.0, -0.0)
    rows.append(Row("powrel", "a = 0 (log1p(x)/x)", (xa, a0), relmeans.powrel, powrel_peer,
                    ref_powrel))
    return rows


# ---------------------------------------------------------------------------
# Measuring

def measure(row):
    """Fill in row.err and row.peer_err: relative errors in units of 2^-52,
    NaN where the result is not finite (lost), +inf where the error itself is
    beyond the range of a double (only the peer's garbage gets there)."""
    ours = np.asarray(row.ours(*row.args), dtype=float)
    with np.errstate(all="ignore"):
        peer = np.asarray(row.peer(*row.args), dtype=float)
    err = np.full(ours.shape, np.nan)
    peer_err = np.full(ours.shape, np.nan)
    for i, point in enumerate(zip(*row.args)):
        ref = row.ref(*(float(p) for p in point))
        if math.isfinite(ours[i]):
            err[i] = helpers.rel_err(float(ours[i]), ref)
        if math.isfinite(peer[i]):
            peer_err[i] = helpers.rel_err(float(peer[i]), ref)
    row.err, row.peer_err = err, peer_err


def stats(e):
    """(peak, median, RMS, lost) of the errors e, NaN marking lost points."""
    ok = e[~np.isnan(e)]
    lost = e.size - ok.size
    if ok.size == 0:
        return None, None, None, lost
    peak = float(ok.max())
    if not math.isfinite(peak) or peak == 0:
        rms = peak
    else:
        rms = peak * float(np.sqrt(np.mean((ok / peak) ** 2)))
    return peak, float(np.median(ok)), rms, lost


def fmt(v):
    """An error for the table: three significant digits, or an integer."""
    if v is None:
        return "—"
    if v == 0:
        return "0"
    if math.isinf(v):
        return "> 1e308"
    if v < 0.01 or v >= 1e5:
        m, e = f"{v:.1e}".split("e")
        return f"{m}e{int(e)}"
    if v < 1000:
        return f"{v:.3g}"
    return f"{v:.0f}"


# ---------------------------------------------------------------------------
# Writing

PEERS = [
    ("millsratio", "R(x)", "`sqrt(pi/2) * erfcx(x/sqrt(2))` (SciPy)"),
    ("millsratio_d1", "-R'(x)", "`1 - x*R_peer(x)`"),
    ("millsratio_d3", "-R'''(x)", "`(x*x + 2) - x*(x*x + 3)*R_peer(x)`"),
    ("millsratio_rel_below1", "(sqrt(pi/2) - R(x))/x", "`(sqrt(pi/2) - R_peer(x))/x`"),
    ("millsratio_dd", "(R(x-dx) - R(x+dx))/(2dx); sum branch (R(dx-x) + R(x+dx))/(2dx)",
     "the same formulas with `R_peer`"),
    ("millsratio_dd_cf", "divided difference of the depth-n continued fraction R_n",
     "`(R_n(x-dx) - R_n(x+dx))/(2dx)` with R_n evaluated in double"),
    ("logrel", "log(1+x)/x", "`np.log1p(x)/x`, patched to 1 at x = 0"),
    ("powrel", "((1+x)^a - 1)/(a x)", "`np.expm1(a*np.log1p(x))/(a*x)`"),
]


def markdown(rows, n):
    lines = [
        "# Accuracy",
        "",
        "Every function of qarvel against mpmath references computed to 50 significant",
        "digits at the exact double arguments, beside the formula a user would otherwise",
        "write with NumPy and SciPy (the *peer*). Errors are relative, in units of",
        "2^-52 (one unit in the last place of a double in [1, 2)): peak, median and",
        "root mean square over a seeded sweep of each regime. A result that is",
        "infinite or NaN where the true value is a finite double is *lost*: it is",
        "counted, not measured.",
        "",
        "Made by `tools/accuracy_report.py` (`make accuracy`) with qarvel "
        f"{qarvel.__version__}, NumPy {np.__version__}, SciPy {scipy.__version__}, "
        f"mpmath {mp.__version__}; seed {SEED}, about {n} points per regime.",
        "",
        "| function | computes | peer formula |",
        "|---|---|---|",
    ]
    lines += [f"| `{p}` | {w} | {f} |" for p, w, f in PEERS]
    lines += [
        "",
        "| function | regime | points | peak | median | RMS | lost | peer peak | peer median | peer RMS | peer lost |",
        "|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|",
    ]
    last = None
    for r in rows:
        q, p = stats(r.err), stats(r.peer_err)
        name = f"`{r.panel}`" if r.panel != last else ""
        last = r.panel
        cells = [name, r.regime, str(r.err.size), *map(fmt, q[:3]), str(q[3]),
                 *map(fmt, p[:3]), str(p[3])]
        lines.append("| " + " | ".join(c.replace("|", "\\|") for c in cells) + " |")
    lines += [
        "",
        "Notes.",
        "",
        "- Regimes are those of the kernels: the method changes at each bound. CF is a",
        "  continued-fraction approximant of the depth given. A peak can come from a",
        "  single point; the median is the typical error.",
        "- For negative x the reflection R(x) = sqrt(2 pi) exp(x^2/2) - R(-x) is used.",
        "  The rounding of the exponent x^2/2, up to half a unit in its last place,",
        "  becomes the relative error of the result: it grows with x^2, up to 256",
        "  units near x = -37, for any evaluation that goes through exp(x^2/2). Below",
        "  about -37.6 (R), -37.55 (-R') and -37.36 (-R''') the true value exceeds the",
        "  largest double and both sides return infinity; the sweeps stop there.",
        "- From x = 1.158e77 on, `millsratio_d1` and `millsratio_d3` return +0",
        "  (x^2 + 3 would overflow); the true values are below 1e-154 there. The",
        "  sweeps stop at 1e77.",
        "- `millsratio_dd`: small dx means dx < 0.0392 (x + 1.25), drawn log-uniformly",
        "  over six decades below that bound; the reference is the divided difference",
        "  at the exact points x - dx and x + dx. The series regime's peak is the",
        "  truncation of its five-term series at the regime's edge (about 1.2e-14),",
        "  which falls like dx^10 inside. In the direct regime the peaks come from",
        "  x - dx < 0, where R(x - dx) is a reflected value (see above); for x < 0",
        "  the difference of two large reflected values also cancels when dx is",
        "  small, for qarvel and peer alike.",
        "- `millsratio_dd_cf`: the reference is the exact divided difference of the",
        "  same approximant R_n (not of R), at the exact points x - dx and x + dx.",
        "- `logrel`, `powrel`: qarvel evaluates the same log1p/expm1 formulas as the",
        "  peer, and returns the limits at x = 0 and a = 0 where the peer divides 0 by 0.",
        "  The error of `powrel` grows with a log1p(x) > 0, up to about that many",
        "  units: the exponential magnifies the rounding of a log1p(x).",
        "",
        "![relative error against x, qarvel and peer](accuracy.png)",
        "",
    ]
    return "\n".join(lines)


LINTHRESH = {
    # the x-axis of each panel: linear within +-linthresh, logarithmic beyond
    "millsratio": 1.0, "millsratio_d1": 1.0, "millsratio_d3": 1.0,
    "millsratio_rel_below1": 1e-15, "millsratio_dd": 1.0, "millsratio_dd_cf": 1.0,
    "logrel": 1e-20, "powrel": 1e-16,
}
FLOOR, CAP = 1e-2, 1e17   # errors of 0 are drawn at FLOOR, errors above CAP at CAP


def _decades(v, lt):
    """Width of [0, v] on a symlog axis, in decades (the linear part counts 1)."""
    return max(math.log10(abs(v)) - math.log10(lt), 0.0) + 1.0 if v else 1.0


def _ticks(lo, hi, lt, most, zero=True):
    """Ticks for a symlog axis over [lo, hi], one of which is 0: 0 itself
    (if zero) and at most `most` decades, spaced evenly and far enough from 0
    that the labels do not collide; as (positions, labels)."""
    sign = -1.0 if lo < 0 else 1.0
    far = max(abs(lo), abs(hi))
    k0, k1 = math.log10(lt), math.floor(math.log10(far))
    step = next(s for s in (1, 2, 3, 4, 5, 7, 10, 20, 25, 50, 100) if s * most >= k1 - k0 + 1)
    # 10^k lies 1 + k - k0 decade-widths from 0
    ks = [k for k in range(math.ceil(k0), k1 + 1) if k % step == 0 and 1 + k - k0 >= 0.8 * step]
    name = {0: "1", 1: "10", 2: "100"}
    pos = [sign * 10.0**k for k in ks]
    labels = [("-" if sign < 0 else "") + name.get(k, f"1e{k}") for k in ks]
    if zero:
        pos, labels = [0.0] + pos, ["0"] + labels
    return pos, labels


def plot(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    panels = list(dict.fromkeys(r.panel for r in rows))
    ncol = 2
    nrow = (len(panels) + ncol - 1) // ncol
    fig = plt.figure(figsize=(14, 3.3 * nrow + 0.9), layout="constrained")
    cells = fig.subfigures(nrow, ncol, wspace=0.03, hspace=0.03).flat
    for cell, panel in zip(cells, panels):
        rs = [r for r in rows if r.panel == panel]
        x = np.concatenate([r.args[0] for r in rs])
        e = np.concatenate([r.err for r in rs])
        pe = np.concatenate([r.peer_err for r in rs])
        lt = LINTHRESH[panel]
        # Negative x gets an axis of its own, at least a fifth of the panel:
        # its range is short next to the positive one, and the reflection
        # lives there.
        sides = [(x.min(), 0.0)] if x.min() < 0 else []
        sides.append((0.0, x.max()))
        widths = [_decades(hi, lt) for lo, hi in sides[1:]] if len(sides) == 2 else [1.0]
        if len(sides) == 2:
            dl = _decades(sides[0][0], lt)
            widths = [min(max(dl, 0.25 * widths[0]), widths[0]), widths[0]]
        cell.suptitle(panel)
        axes = cell.subplots(1, len(sides), sharey=True, width_ratios=widths, squeeze=False)[0]
        for k, (lo, hi) in enumerate(sides):
            ax = axes[k]
            ax.set_xscale("symlog", linthresh=lt)
            ax.set_xlim(lo, hi)
            # 0 is labelled once, on the first axis
            pos, labels = _ticks(lo, hi, lt, 3 if k + 1 < len(sides) else 9, zero=k == 0)
            ax.set_xticks(pos, labels)
            ax.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
            ax.set_yscale("log")
            ax.set_ylim(FLOOR / 3, 30 * CAP)
            ax.axhline(2.0**52, color="gray", lw=0.6, ls=":")
            ax.grid(True, which="major", alpha=0.3)
            ax.tick_params(labelsize=8)
            sel = (x >= lo) & (x <= hi)
            # the peer's dots are larger: where both agree, an orange rim
            for err, color, size, name in [(pe, "tab:orange", 5, "peer"),
                                           (e, "tab:blue", 2, "qarvel")]:
                ok = sel & ~np.isnan(err)
                ax.scatter(x[ok], np.clip(err[ok], FLOOR, CAP), color=color, s=size, label=name,
                           linewidths=0, rasterized=True)
            for err, color, name in [(pe, "tab:red", "peer lost"), (e, "black", "qarvel lost")]:
                lost = np.isnan(err)
                if (sel & lost).any() or (k == 0 and lost.any()):
                    ax.scatter(x[sel & lost], np.full((sel & lost).sum(), 8 * CAP), color=color,
                               marker="x", s=8, linewidths=0.6, label=f"{name} ({lost.sum()})",
                               rasterized=True)
        axes[0].set_ylabel("error / 2^-52")
        axes[0].legend(loc="upper left", fontsize=7, markerscale=3)
        if len(axes) == 2:
            axes[0].spines["right"].set_visible(False)
            axes[1].spines["left"].set_visible(False)
            axes[1].tick_params(axis="y", left=False, labelleft=False)
        for ax in axes:
            ax.set_xlabel("x", fontsize=8, labelpad=1)
    fig.suptitle("Relative error against mpmath in units of 2^-52: qarvel (blue) and the peer "
                 "formula (orange).\n0 is drawn at 1e-2, errors above 1e17 at 1e17, lost results "
                 "above that; the dotted line is relative error 1.")
    fig.savefig(path, dpi=90)
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--points", type=int, default=POINTS, help="points per regime")
    ap.add_argument("--outdir", default=str(ROOT / "docs"), help="where to write the report")
    args = ap.parse_args()
    t0 = time.perf_counter()
    rows = mills_rows(args.points) + symdiff_rows(args.points) + relmeans_rows(args.points)
    for r in rows:
        measure(r)
        q, p = stats(r.err), stats(r.peer_err)
        print(f"{r.panel:22s} {r.regime:55s} {r.err.size:5d}  peak {fmt(q[0]):>8s}  "
              f"peer {fmt(p[0]):>8s}  lost {p[3]}", flush=True)
    out = Path(args.outdir)
    out.mkdir(parents=True, exist_ok=True)
    (out / "accuracy.md").write_text(markdown(rows, args.points))
    with np.errstate(over="ignore"):     # symlog transforms of x near 1e300
        plot(rows, out / "accuracy.png")
    print(f"wrote {out / 'accuracy.md'} and {out / 'accuracy.png'} in "
          f"{time.perf_counter() - t0:.0f} s")


if __name__ == "__main__":
    main()
