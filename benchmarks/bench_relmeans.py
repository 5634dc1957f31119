"""qarvel.relmeans against the NumPy expressions a user would write.

    python benchmarks/bench_relmeans.py [N]

Times logrel(x) and powrel(x, a) on N points (default 10^6; best of several
repeats, in ns per element) against

    np.log1p(x) / x                        (x = 0 patched to 1 afterwards)
    np.expm1(a * np.log1p(x)) / (a * x)

and prints the largest relative error of each, in units of 2^-52, against
mpmath on a few hundred points (small x included), with the number of points
where the result is not finite although the true value is.
"""

import math
import sys
import time

import mpmath as mp
import numpy as np

from qarvel.relmeans import logrel, powrel

REPEATS = 7


def np_logrel(x):
    with np.errstate(divide="ignore", invalid="ignore"):
        r = np.log1p(x) / x
    r[x == 0] = 1.0
    return r


def np_powrel(x, a):
    with np.errstate(divide="ignore", invalid="ignore", over="ignore"):
        return np.expm1(a * np.log1p(x)) / (a * x)


def best_ns(f, *args):
    n = np.broadcast(*args).size
    best = math.inf
    for _ in range(REPEATS):
        t = time.perf_counter()
        f(*args)
        best = min(best, time.perf_counter() - t)
    return best / n * 1e9


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
    n = int(float(sys.argv[1])) if len(sys.argv) > 1 else 10**6
    rng = np.random.default_rng(12345)
    x = np.where(rng.random(n) < 0.25, -rng.uniform(0, 0.999, n), 10.0 ** rng.uniform(-12, 3, n))
    a = rng.uniform(-20, 20, n)

    print(f"{n} points, best of {REPEATS}, ns per element")
    print(f"{'function':<18}{'qarvel':>10}{'numpy':>10}{'numpy/qarvel':>15}")
    rows = [
        ("logrel(x)", (logrel, x), (np_logrel, x)),
        ("powrel(x, 2.5)", (powrel, x, 2.5), (np_powrel, x, 2.5)),
        ("powrel(x, a[])", (powrel, x, a), (np_powrel, x, a)),
    ]
    for name, (f, *fa), (g, *ga) in rows:
        tq, tn = best_ns(f, *fa), best_ns(g, *ga)
        print(f"{name:<18}{tq:>10.1f}{tn:>10.1f}{tn / tq:>15.2f}")

    xs, as_ = sample(400, np.random.default_rng(7))
    lref = [ref_logrel(v) for v in xs]
    pref = [ref_powrel(v, w) for v, w in zip(xs, as_)]
    # drop points whose true value is outside the range of doubles
    keep = [i for i, r in enumerate(pref) if mp.mpf(2)**-1022 <= abs(r) < mp.mpf(2)**1024]
    print()
    print(f"accuracy on {len(xs)} points (powrel: {len(keep)} with a value in range), "
          "max error in units of 2^-52 / non-finite results")
    for name, vq, vn, refs in [
        ("logrel", logrel(xs), np_logrel(xs), lref),
        ("powrel", powrel(xs[keep], as_[keep]), np_powrel(xs[keep], as_[keep]),
         [pref[i] for i in keep]),
    ]:
        (eq, bq), (en, bn) = accuracy(vq, refs), accuracy(vn, refs)
        print(f"{name:<8} qarvel {eq:8.2f} / {bq:<4d} numpy {en:8.2f} / {bn}")


if __name__ == "__main__":
    main()
