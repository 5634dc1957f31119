"""qarvel's benchmarks, in one run on one machine (make bench).

1. Every Python function in every regime of its kernel, on 10^6 float64
   points, beside the formula a user would otherwise write with NumPy and
   SciPy, and beside the floor: the same kernel in a bare C++ loop over the
   same data, compiled from the same sources with the same flags.
2. Scaling: cost per element from 1 to 10^7 elements, and one call on a
   Python float beside one call of a SciPy ufunc.
3. Memory: the peak extra memory of one call on a contiguous array.
4. Accuracy of the naive forms beside qarvel's, for the divided differences
   and the relative means (bench_symdiff.py, bench_relmeans.py).
5. The ufuncs of qarvel.ufuncs beside the module functions: speed, float32
   loops, out=, broadcasting and threads (bench_ufuncs.py).

Times are the best of several repeats.  Pass --quick for fewer repeats.
"""

import os
import subprocess
import sys
import sysconfig
import tempfile
import timeit
import tracemalloc
from pathlib import Path

import numpy as np
from scipy.special import erfcx

import qarvel
from bench_relmeans import np_logrel as logrel_peer, np_powrel as powrel_peer
from harness import N, ns_per_element, table
from qarvel import mills, relmeans, symdiff

HERE = Path(__file__).resolve().parent
REPEAT = 3 if "--quick" in sys.argv else 7

# --- the formulas a user would otherwise write --------------------------------

SQRT_PI_2 = np.sqrt(np.pi / 2)
INV_SQRT2 = 1 / np.sqrt(2)


def R_peer(x):
    return SQRT_PI_2 * erfcx(x * INV_SQRT2)


def R1_peer(x):
    return 1.0 - x * R_peer(x)


def R3_peer(x):
    return (x * x + 2.0) - x * (x * x + 3.0) * R_peer(x)


def Rrel_peer(x):
    with np.errstate(divide="ignore", invalid="ignore"):
        return (SQRT_PI_2 - R_peer(x)) / x


def dd_peer(x, dx, theta=1):
    if theta < 0:
        return (R_peer(dx - x) + R_peer(x + dx)) / (dx + dx)
    return (R_peer(x - dx) - R_peer(x + dx)) / (dx + dx)


def dd_cf_peer(x, dx, n_terms=4):
    # the naive difference of the continued fraction R_n at the two points
    def R_n(t):
        v = t.copy()
        for k in range(n_terms, 0, -1):
            v = t + k / v
        return 1.0 / v
    return (R_n(x - dx) - R_n(x + dx)) / (dx + dx)


# --- the cases: function, regime, arguments, integer parameter ------------------

def cases(rng):
    u = lambda lo, hi: rng.uniform(lo, hi, N)
    out = []
    for lo, hi in [(0, 1), (1, 9.5), (9.5, 100), (-30, 0)]:
        x = u(lo, hi)
        out += [("millsratio", mills.millsratio, R_peer, f"[{lo:g}, {hi:g}]", (x,), None),
                ("millsratio_d1", mills.millsratio_d1, R1_peer, f"[{lo:g}, {hi:g}]", (x,), None),
                ("millsratio_d3", mills.millsratio_d3, R3_peer, f"[{lo:g}, {hi:g}]", (x,), None)]
    out.append(("millsratio_rel_below1", mills.millsratio_rel_below1, Rrel_peer, "[0, 1]", (u(0, 1),), None))
    # divided differences: small dx in the series and continued-fraction
    # regimes, a large one in the direct regime, and the sum branch
    x = u(0, 20)
    out.append(("millsratio_dd", symdiff.millsratio_dd, dd_peer, "series", (x, 0.01 * (x + 1.25)), 1))
    x = u(25, 1000)
    out.append(("millsratio_dd", symdiff.millsratio_dd, dd_peer, "CF", (x, 0.01 * x), 1))
    x = u(0, 20)
    out.append(("millsratio_dd", symdiff.millsratio_dd, dd_peer, "direct", (x, u(1, 2)), 1))
    out.append(("millsratio_dd", symdiff.millsratio_dd, dd_peer, "sum", (u(-5, 5), u(0.1, 1)), -1))
    x = u(25, 1000)
    out.append(("millsratio_dd_cf", symdiff.millsratio_dd_cf, dd_cf_peer, "depth 4", (x, 0.01 * x), 4))
    out.append(("logrel", relmeans.logrel, logrel_peer, "[-0.9, 10]", (u(-0.9, 10),), None))
    out.append(("powrel", relmeans.powrel, powrel_peer, "[-0.9, 10], a in [-3, 3]",
                (u(-0.9, 10), u(-3, 3)), None))
    return out


# --- the floor: the kernels in a bare C++ loop -----------------------------------

def build_floor(tmp):
    inc = Path(qarvel.get_include())
    exe = tmp / "floor"
    # the flags of the extension modules' release build
    subprocess.run([os.environ.get("CXX", "g++"), "-std=c++17", "-O3", "-ffp-contract=off",
                    "-fno-fast-math", "-fPIC", f"-I{inc}", str(HERE / "floor.cpp"),
                    str(inc / "_kernels" / "mills.cpp"), str(inc / "_kernels" / "symdiff.cpp"),
                    "-o", str(exe)], check=True)
    return exe


def floor_ns(exe, tmp, name, args, param):
    files = []
    for k, a in enumerate(args):
        f = tmp / f"arg{k}.bin"
        np.ascontiguousarray(a, dtype=np.float64).tofile(f)
        files.append(str(f))
    extra = [str(param)] if param is not None else []
    out = subprocess.run([str(exe), name, str(REPEAT), *files, *extra],
                         check=True, capture_output=True, text=True).stdout
    return float(out)


def speed(tmp):
    exe = build_floor(tmp)
    rng = np.random.default_rng(0)
    rows = []
    for name, ours, peer, regime, args, param in cases(rng):
        extra = (param,) if param is not None else ()
        t_ours = ns_per_element(ours, *args, *extra, repeat=REPEAT)
        t_peer = ns_per_element(peer, *args, *extra, repeat=REPEAT)
        t_floor = floor_ns(exe, tmp, name, args, param)
        rows.append([name, regime, t_ours, t_peer, t_peer / t_ours, t_floor, t_ours / t_floor])
    table("Speed on 10^6 float64 points: qarvel, the formula it replaces, and the bare C++ loop",
          ["function", "regime", "ns/elt", "formula ns/elt", "speed-up", "C++ ns/elt", "python/C++"], rows)


# --- scaling and single calls --------------------------------------------------

def per_element(f, x):
    timer = timeit.Timer(lambda: f(x))
    number, _ = timer.autorange()
    best = min(timer.repeat(repeat=REPEAT, number=number)) / number
    return best / max(x.size, 1) * 1e9


def scaling():
    rng = np.random.default_rng(1)
    rows = []
    for n in (1, 10, 10**3, 10**4, 10**5, 10**6, 10**7):
        x = rng.uniform(1, 9.5, n)
        rows.append([f"{n:.0e}" if n > 10 else str(n), per_element(mills.millsratio, x),
                     per_element(R_peer, x)])
    table("Cost per element of millsratio against array size (x in [1, 9.5])",
          ["elements", "ns/elt", "formula ns/elt"], rows)
    calls = [("qarvel.mills.millsratio(1.5)", lambda: mills.millsratio(1.5)),
             ("scipy.special.erfcx(1.5)", lambda: erfcx(1.5)),
             ("qarvel.relmeans.logrel(0.5)", lambda: relmeans.logrel(0.5)),
             ("qarvel.symdiff.millsratio_dd(5.0, 0.1)", lambda: symdiff.millsratio_dd(5.0, 0.1))]
    rows = []
    for label, f in calls:
        timer = timeit.Timer(f)
        number, _ = timer.autorange()
        rows.append([label, min(timer.repeat(repeat=REPEAT, number=number)) / number * 1e9])
    table("One call on a Python float", ["call", "ns/call"], rows)


def memory():
    x = np.random.default_rng(2).uniform(0, 10, N)
    rows = []
    for label, f in [("millsratio(x)", lambda: mills.millsratio(x)),
                     ("millsratio_dd(x, 0.1)", lambda: symdiff.millsratio_dd(x, 0.1)),
                     ("millsratio_dd(x, x)", lambda: symdiff.millsratio_dd(x, x)),
                     ("logrel(x)", lambda: relmeans.logrel(x)),
                     ("powrel(x, 2.0)", lambda: relmeans.powrel(x, 2.0)),
                     ("powrel(x, x)", lambda: relmeans.powrel(x, x))]:
        f()
        tracemalloc.start()
        tracemalloc.reset_peak()
        base = tracemalloc.get_traced_memory()[0]
        r = f()
        peak = tracemalloc.get_traced_memory()[1] - base
        tracemalloc.stop()
        del r
        rows.append([label, f"{peak / 2**20:.2f} MiB", f"{peak / x.nbytes:.2f}"])
    table(f"Peak extra memory of one call on a contiguous float64 array of 10^6 elements "
          f"({x.nbytes / 2**20:.2f} MiB)", ["call", "peak", "in output arrays"], rows)


def main():
    print(f"qarvel {qarvel.__version__}, NumPy {np.__version__}, Python {sys.version.split()[0]}, "
          f"{sysconfig.get_platform()}, {os.cpu_count()} cores")
    with tempfile.TemporaryDirectory() as tmp:
        speed(Path(tmp))
    scaling()
    memory()
    import bench_relmeans
    import bench_symdiff
    import bench_ufuncs
    bench_symdiff.main()
    bench_relmeans.main()
    bench_ufuncs.main()


if __name__ == "__main__":
    main()
