"""qarvel.symdiff against the divided difference a user would otherwise write.

    python benchmarks/bench_symdiff.py

For 10^6 pairs (x, dx) with small dx, in the series regime (0 <= x <= 20) and
in the continued-fraction regime (25 <= x <= 1e5), times

    ours   millsratio_dd(x, dx)
    naive  (R(x - dx) - R(x + dx))/(2 dx),  R(t) = sqrt(pi/2) erfcx(t/sqrt 2)

in ns per element (best of several repeats), and prints the median and the
largest relative error of each against mpmath on a few hundred of the pairs.
The naive difference cancels the digits that the two Mills ratios share,
about log10(x/dx) of them; millsratio_dd loses none.
"""

import math

import mpmath as mp
import numpy as np
from scipy.special import erfcx

from harness import N, ns_per_element, table
from qarvel.symdiff import millsratio_dd

SAMPLE = 300
SQRT_PI_2 = math.sqrt(math.pi / 2)
INV_SQRT2 = 1 / math.sqrt(2)


def naive(x, dx):
    return (SQRT_PI_2 * erfcx((x - dx) * INV_SQRT2) - SQRT_PI_2 * erfcx((x + dx) * INV_SQRT2)) / (2 * dx)


def pairs(regime, n, rng):
    """x, and dx a log-uniform fraction (1e-8 to 0.9) of the bound
    0.0392 (x + 1.25) below which millsratio_dd avoids the plain difference."""
    if regime == "series":
        x = rng.uniform(0.0, 20.0, n)
    else:
        x = np.exp(rng.uniform(np.log(25.0), np.log(1e5), n))
    dx = 0.0392 * (x + 1.25) * np.exp(rng.uniform(np.log(1e-8), np.log(0.9), n))
    return x, dx


def reference(x, dx):
    """(R(x - dx) - R(x + dx))/(2 dx) at the exact points, in mpmath, with
    digits enough for exp(x^2/2) and for the cancellation."""
    big = math.log10(max(x, 1.0))
    with mp.workdps(40 + int(2 * big) + int(max(0.0, big - math.log10(dx)))):
        X, D = mp.mpf(x), mp.mpf(dx)
        R = lambda t: mp.sqrt(mp.pi / 2) * mp.erfc(t / mp.sqrt(2)) * mp.exp(t * t / 2)
        return (R(X - D) - R(X + D)) / (2 * D)


def rel_errors(f, x, dx, refs):
    return np.array([float(abs(mp.mpf(v) - r) / abs(r)) for v, r in zip(f(x, dx), refs)])


def main():
    rng = np.random.default_rng(2026)
    rows = []
    for regime in ("series", "cf"):
        x, dx = pairs(regime, N, rng)
        t_ours = ns_per_element(millsratio_dd, x, dx)
        t_naive = ns_per_element(naive, x, dx)
        xs, dxs = x[:SAMPLE], dx[:SAMPLE]
        refs = [reference(float(a), float(b)) for a, b in zip(xs, dxs)]
        e_ours, e_naive = rel_errors(millsratio_dd, xs, dxs, refs), rel_errors(naive, xs, dxs, refs)
        rows.append([regime, t_ours, t_naive, t_naive / t_ours,
                     float(np.median(e_ours)), float(np.median(e_naive)), float(e_ours.max()), float(e_naive.max())])
    table(f"millsratio_dd vs the erfcx difference (10^6 pairs; errors on {SAMPLE})",
          ["regime", "ns/elt", "naive ns/elt", "speed-up", "median err", "naive median", "max err", "naive max"],
          rows)


if __name__ == "__main__":
    main()
