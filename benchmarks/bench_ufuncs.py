"""qarvel.ufuncs against the module functions they mirror.

    python benchmarks/bench_ufuncs.py

1. Speed: each float64 ufunc beside its module function (qarvel.mills,
   .symdiff, .relmeans) on 10^6 contiguous float64 points.  Both allocate
   their output and run the same kernel, bit for bit, so the ratio is the
   cost of NumPy's ufunc machinery and of the loops' flag bookkeeping
   against the modules' plain loops.
2. The float32 loops beside the float64 loops of the same ufunc.
3. One call with out=: the peak bytes tracemalloc sees, beside the module
   function's, which always allocates its float64 output.
4. Broadcasting x of shape (1000, 1) against dx of shape (1, 1000): the
   peak beyond the 10^6-element output, beside np.add's (NumPy's iterator
   keeps fixed-size buffers whatever the function) and beside the module
   function's, which copies both arguments to full size first.
5. Threads: two threads, each applying a ufunc to one half of a 10^7-element
   array with out= into one half of a preallocated output, beside one
   thread on the whole; the loops run without the interpreter lock.

Times are the best of several repeats, the two sides of a ratio measured in
alternating rounds.
"""

import tracemalloc
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from harness import N, ns_per_element, table
from qarvel import mills, relmeans, symdiff, ufuncs

ROUNDS = 2


def best_ns(*calls):
    """ns per element of each (f, args), the best over ROUNDS alternating
    rounds of the harness's best-of-N, so that a slow spell of the machine
    hits both sides of a ratio alike."""
    best = [float("inf")] * len(calls)
    for _ in range(ROUNDS):
        for i, (f, args) in enumerate(calls):
            best[i] = min(best[i], ns_per_element(f, *args))
    return best


def peak_bytes(f):
    """Peak bytes traced during one call of f (after a warm-up call), its
    result included."""
    f()
    tracemalloc.start()
    try:
        result = f()  # alive until the peak is read
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def cases(rng):
    """(ufunc, module function, range of x, ufunc arguments, module arguments)
    on N float64 points; small dx for the divided differences (the series
    regime of millsratio_dd, the continued fraction's own)."""
    u = lambda lo, hi: rng.uniform(lo, hi, N)
    x_r, x_unit, x_dd, x_cf = u(1, 9.5), u(0, 1), u(0, 20), u(25, 1000)
    dx_dd, dx_cf = 0.01 * (x_dd + 1.25), 0.01 * x_cf
    x_log = u(np.nextafter(-1.0, 0.0), 5)
    a = u(-3, 3)
    return [
        (ufuncs.millsratio, mills.millsratio, "[1, 9.5]", (x_r,), (x_r,)),
        (ufuncs.millsratio_d1, mills.millsratio_d1, "[1, 9.5]", (x_r,), (x_r,)),
        (ufuncs.millsratio_d3, mills.millsratio_d3, "[1, 9.5]", (x_r,), (x_r,)),
        (ufuncs.millsratio_rel_below1, mills.millsratio_rel_below1, "[0, 1]", (x_unit,), (x_unit,)),
        (ufuncs.millsratio_dd, symdiff.millsratio_dd, "[0, 20], dx/(x+1.25) = 0.01",
         (x_dd, dx_dd, 1), (x_dd, dx_dd, 1)),
        (ufuncs.millsratio_dd_cf, symdiff.millsratio_dd_cf, "[25, 1000], dx/x = 0.01, depth 4",
         (x_cf, dx_cf, 4), (x_cf, dx_cf, 4)),
        (ufuncs.logrel, relmeans.logrel, "(-1, 5)", (x_log,), (x_log,)),
        (ufuncs.powrel, relmeans.powrel, "(-1, 5), a in [-3, 3]", (x_log, a), (x_log, a)),
    ]


def speed(rng):
    rows = []
    for uf, mod, label, args, margs in cases(rng):
        t_u, t_m = best_ns((uf, args), (mod, margs))
        rows.append([uf.__name__, label, t_u, t_m, t_u / t_m])
    table("float64 ufunc vs module function, 10^6 contiguous float64 points",
          ["function", "x", "ufunc ns/elt", "module ns/elt", "ufunc/module"], rows)


def float32(rng):
    rows = []
    for uf, _, label, args, _ in cases(rng):
        if not any(t.endswith("->f") for t in uf.types):
            continue  # a float64 loop only
        args32 = tuple(a.astype(np.float32) if isinstance(a, np.ndarray) else a for a in args)
        t32, t64 = best_ns((uf, args32), (uf, args))
        rows.append([uf.__name__, label, t32, t64, t32 / t64])
    table("float32 loop vs float64 loop of the same ufunc, 10^6 contiguous points",
          ["function", "x", "float32 ns/elt", "float64 ns/elt", "f32/f64"], rows)


def out_memory(rng):
    out = np.empty(N)
    rows = []
    for uf, mod, _, args, margs in cases(rng):
        b_u = peak_bytes(lambda: uf(*args, out=out))
        b_m = peak_bytes(lambda: mod(*margs))
        rows.append([uf.__name__, str(b_u), str(b_m), b_m / out.nbytes])
    table(f"Peak bytes traced in one call on 10^6 float64 points "
          f"(output {out.nbytes} bytes): ufunc with out=, module function",
          ["function", "ufunc out= bytes", "module bytes", "module/output"], rows)


def broadcasting():
    x = np.linspace(0, 20, 1000)[:, None]
    dx = np.geomspace(1e-6, 0.05, 1000)[None, :]
    nbytes = 8 * x.size * dx.size
    rows = []
    for label, f, args in [("ufuncs.millsratio_dd(x, dx, 1)", ufuncs.millsratio_dd, (x, dx, 1)),
                           ("np.add(x, dx)", np.add, (x, dx)),
                           ("symdiff.millsratio_dd(x, dx)", symdiff.millsratio_dd, (x, dx))]:
        peak = peak_bytes(lambda: f(*args))
        # ns_per_element counts the elements of x; per output element:
        ns = ns_per_element(f, *args) / dx.size
        rows.append([label, f"{peak / 2**10:.1f}", f"{(peak - nbytes) / 2**10:.1f}", ns])
    table(f"Broadcasting x (1000, 1) against dx (1, 1000): peak traced memory "
          f"(output {nbytes / 2**10:.0f} KiB) and time",
          ["call", "peak KiB", "beyond output KiB", "ns/output elt"], rows)


def halves(a):
    """The two halves of an array; a scalar goes to both."""
    if isinstance(a, np.ndarray):
        return a[:a.size // 2], a[a.size // 2:]
    return a, a


def threads():
    m = 10**7
    rng = np.random.default_rng(5)
    x_dd = rng.uniform(0, 20, m)
    out = np.empty(m)
    out_halves = halves(out)
    rows = []
    with ThreadPoolExecutor(2) as pool:
        def two_threads(f, *args):
            parts = zip(*(halves(a) for a in args))
            futures = [pool.submit(f, *p, out=o) for p, o in zip(parts, out_halves)]
            for fut in futures:
                fut.result()

        for f, args in [(ufuncs.millsratio, (rng.uniform(1, 9.5, m),)),
                        (ufuncs.millsratio_dd, (x_dd, 0.01 * (x_dd + 1.25), 1))]:
            t1, t2 = best_ns((lambda *a: f(*a, out=out), args),
                             (lambda *a: two_threads(f, *a), args))
            rows.append([f.__name__, t1, t2, t1 / t2])
    table("Threads on 10^7 float64 points with out=: one thread on the whole array, "
          "two threads on one half each",
          ["ufunc", "1 thread ns/elt", "2 threads ns/elt", "throughput ratio"], rows)


def main():
    speed(np.random.default_rng(1))
    float32(np.random.default_rng(1))
    out_memory(np.random.default_rng(1))
    broadcasting()
    threads()


if __name__ == "__main__":
    main()
