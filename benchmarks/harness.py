"""Timing helpers shared by the benchmark scripts: best-of-N wall time per
element, and a table printer."""

import time

import numpy as np

N = 10**6
REPEAT = 7


def ns_per_element(f, *args, repeat=REPEAT):
    """Best wall time of f(*args) over `repeat` runs, in ns per element of
    the first argument."""
    n = max(np.size(args[0]), 1)
    f(*args)  # warm up: page in the output, load code
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        f(*args)
        best = min(best, time.perf_counter() - t0)
    return best / n * 1e9


def table(title, header, rows):
    """Print rows (sequences of str or float) under a header, aligned."""
    print(f"\n{title}")
    cells = [list(header)] + [[c if isinstance(c, str) else f"{c:.3g}" for c in r] for r in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(header))]
    for k, r in enumerate(cells):
        print("  " + "  ".join(c.rjust(w) if i else c.ljust(w) for i, (c, w) in enumerate(zip(r, widths))))
        if k == 0:
            print("  " + "  ".join("-" * w for w in widths))
