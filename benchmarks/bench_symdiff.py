"""millsratio_dd against the divided difference a user would otherwise write.

    python benchmarks/bench_symdiff.py [N]

For N (default 10^6) pairs (x, dx) with small dx, in the series regime
(0 <= x <= 20) and in the continued-fraction regime (25 <= x <= 1e5), times

    ours   qarvel.symdiff.millsratio_dd(x, dx)
    naive  (R(x - dx) - R(x + dx))/(2 dx), R(t) = sqrt(pi/2) erfcx(t/sqrt(2))

and prints nanoseconds per element (best of several repeats), their ratio, and
the median and largest relative error of each against mpmath on a sample of a
few hundred points.  The naive difference cancels the digits that the two Mills
ratios share, about log10(x/dx) of them; millsratio_dd loses none.
"""

import math
import sys
import time

import numpy as np

from qarvel.symdiff import millsratio_dd

try:
    from scipy.special import erfcx
except ImportError:  # the comparison needs SciPy; the rest runs without it
    erfcx = None

try:
    import mpmath as mp
except ImportError:
    mp = None

REPEATS = 5
SAMPLE = 300


def naive(x, dx):
    c, s = math.sqrt(math.pi / 2), math.sqrt(0.5)
    return (c * erfcx((x - dx) * s) - c * erfcx((x + dx) * s)) / (2 * dx)


def pairs(regime, n, rng):
    """x and a dx that is a log-uniform fraction, 1e-8 to 0.9, of the bound
    0.0392 (x + 1.25) below which millsratio_dd avoids the plain difference."""
    if regime == "series":
        x = rng.uniform(0.0, 20.0, n)
    else:
        x = np.exp(rng.uniform(np.log(25.0), np.log(1e5), n))
    dx = 0.0392 * (x + 1.25) * np.exp(rng.uniform(np.log(1e-8), np.log(0.9), n))
    return x, dx


def best_ns(f, x, dx):
    best = math.inf
    for _ in range(REPEATS):
        t = time.perf_counter()
        f(x, dx)
        best = min(best, time.perf_counter() - t)
    return best / x.size * 1e9


def reference(x, dx):
    """(R(x - dx) - R(x + dx))/(2 dx) at the exact points, in mpmath, with
    enough digits for the cancellation and for exp(x^2/2)."""
    lost = max(0, math.log10(max(x, 1.0) / dx))
    with mp.workdps(40 + int(2 * math.log10(max(x, 1.0))) + int(lost)):
        X, D = mp.mpf(x), mp.mpf(dx)
        R = lambda t: mp.sqrt(mp.pi / 2) * mp.erfc(t / mp.sqrt(2)) * mp.exp(t * t / 2)
        return (R(X - D) - R(X + D)) / (2 * D)


def errors(f, x, dx, refs):
    got = f(x, dx)
    return np.array([float(abs(mp.mpf(g) - r) / abs(r)) for g, r in zip(got, refs)])


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10**6
    rng = np.random.default_rng(2026)
    print(f"{n} pairs per regime; best of {REPEATS} runs; relative errors on {SAMPLE} points")
    head = f"{'regime':<8} {'ours ns':>8} {'naive ns':>9} {'ratio':>6}   {'median err ours':>15} {'naive':>9}   {'max err ours':>12} {'naive':>9}"
    print(head)
    for regime in ("series", "cf"):
        x, dx = pairs(regime, n, rng)
        ours_ns = best_ns(millsratio_dd, x, dx)
        naive_ns = best_ns(naive, x, dx) if erfcx is not None else math.nan
        line = f"{regime:<8} {ours_ns:8.1f} {naive_ns:9.1f} {naive_ns / ours_ns:6.2f}"
        if mp is not None:
            xs, dxs = x[:SAMPLE], dx[:SAMPLE]
            refs = [reference(float(a), float(b)) for a, b in zip(xs, dxs)]
            e_ours = errors(millsratio_dd, xs, dxs, refs)
            e_naive = errors(naive, xs, dxs, refs) if erfcx is not None else np.full(1, math.nan)
            line += (f"   {np.median(e_ours):15.2e} {np.median(e_naive):9.2e}"
                     f"   {e_ours.max():12.2e} {e_naive.max():9.2e}")
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
