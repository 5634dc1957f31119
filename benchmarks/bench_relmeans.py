"""qarvel.relmeans against the NumPy expressions a user would write.

    python benchmarks/bench_relmeans.py

Times logrel(x) and powrel(x, a) on 10^6 points (best of several repeats, in
ns per element) against

    np.log1p(x) / x                        (x = 0 patched to 1 afterwards)
    np.expm1(a * np.log1p(x)) / (a * x)

and prints the largest relative error of each, in units of 2^-52, against
mpmath on a few hundred points (small x included), with the number of points
where the result is not finite although the true value is.
"""

import math

import mpmath as mp
import numpy as np

from harness import N, REPEAT, ns_per_element, table
from qarvel.relmeans import logrel, powrel


def np_logrel(x):
    with np.errstate(divide="ignore", invalid="ignore"):
        r = np.log1p(x) / x
    r[x == 0] = 1.0
    return r


def np_powrel(x, a):
    with np.errstate(divide="ignore", invalid="ignore", over="ignore"):
        return np.expm1(a * np.log1p(x)) / (a * x)


def ref_logrel(x):
    with mp.workdps(60):
        x = mp.mpf(x)
        return mp.mpf(1) if x == 0 else +(mp.log1p(x) / x)


def ref_powrel(x, a):
    with mp.workdps(60):
        x, a = mp.mpf(x), mp.mpf(a)
        if x == 0:
            return mp.mpf(1)
        if a == 0:
            return +(mp.log1p(x) / x)
        return +(mp.expm1(a * mp.log1p(x)) / (a * x))


def ulp_err(got, ref):
    with mp.workdps(60):
        return float(abs(mp.mpf(float(got)) - ref) / abs(ref)) * 2.0**52


def accuracy(values, refs):
    """(largest error among finite results, number of non-finite results)"""
    worst, bad = 0.0, 0
    for v, r in zip(values, refs):
        if math.isfinite(v):
            worst = max(worst, ulp_err(v, r))
        else:
            bad += 1
    return worst, bad


def sample(n, rng):
    """x: log-uniform magnitude in [1e-300, 1e3], a quarter of it negative
    (then in (-1, 0)), plus exact zeros; a in [-20, 20] with some zeros."""
    mag = 10.0 ** rng.uniform(-300, 3, n)
    x = np.where(rng.random(n) < 0.25, -np.minimum(mag, 1 - 2**-20), mag)
    x[:4] = [0.0, 1e-10, -1e-10, 1e-300]
    a = rng.uniform(-20, 20, n)
    a[4:8] = 0.0
    a[8:12] = [1e-12, -1e-12, 1e-300, 3.0]
    return x, a


def main():
    rng = np.random.default_rng(12345)
    x = np.where(rng.random(N) < 0.25, -rng.uniform(0, 0.999, N), 10.0 ** rng.uniform(-12, 3, N))
    a = rng.uniform(-20, 20, N)
    rows = []
    for name, (f, *fa), (g, *ga) in [
        ("logrel(x)", (logrel, x), (np_logrel, x)),
        ("powrel(x, 2.5)", (powrel, x, 2.5), (np_powrel, x, 2.5)),
        ("powrel(x, a[])", (powrel, x, a), (np_powrel, x, a)),
    ]:
        t_ours, t_peer = ns_per_element(f, *fa), ns_per_element(g, *ga)
        rows.append([name, t_ours, t_peer, t_peer / t_ours])
    table(f"qarvel.relmeans vs the NumPy expressions (10^6 float64 points, best of {REPEAT})",
          ["function", "ns/elt", "numpy ns/elt", "speed-up"], rows)

    xs, as_ = sample(400, np.random.default_rng(7))
    lref = [ref_logrel(v) for v in xs]
    pref = [ref_powrel(v, w) for v, w in zip(xs, as_)]
    # powrel: only points whose true value is a normal double
    keep = [i for i, r in enumerate(pref) if mp.mpf(2)**-1022 <= abs(r) < mp.mpf(2)**1024]
    rows = []
    for name, vq, vn, refs in [
        ("logrel", logrel(xs), np_logrel(xs), lref),
        ("powrel", powrel(xs[keep], as_[keep]), np_powrel(xs[keep], as_[keep]),
         [pref[i] for i in keep]),
    ]:
        (eq, bq), (en, bn) = accuracy(vq, refs), accuracy(vn, refs)
        rows.append([name, len(refs), eq, en, str(bq), str(bn)])
    table("largest error against mpmath, in units of 2^-52 (finite results), "
          "and the number of results not finite",
          ["function", "points", "qarvel", "numpy", "qarvel not finite", "numpy not finite"],
          [[r[0], str(r[1]), *r[2:]] for r in rows])


if __name__ == "__main__":
    main()
