#!/usr/bin/env python3
"""Generate src/qarvel/_mills_coef.hpp, the coefficient tables of the Mills ratio kernels.

The Mills ratio R(x) = N(-x)/n(x) is taken as sqrt(pi/2)*erfc(x/sqrt(2))*exp(x^2/2) in mpmath.
Each row of a table is a polynomial piece in the local variable s in [0, 1] of its interval:
the interpolant of the row's function at the Chebyshev points of the first kind of [0, 1],

    s_j = (1 - cos((2j + 1)*pi/(2N)))/2,  j = 0 .. N-1,

expanded in ascending powers of s, each coefficient rounded to the nearest double.

    C_Rrel  12 rows, N = 8   (sqrt(pi/2) - R(x))/x    x = a_i + s*(b_i - a_i), a_i, b_i the doubles
                                                      nearest i/12, (i+1)/12
    C_R1    26 rows, N = 8   1 - x*R(x)               t = 32(x - 1)/(x + 2.5) = i + s
    C_R3    45 rows, N = 9   (x^2+2) - x(x^2+3)*R(x)  t = 50x/(x + 3.5) = i + s

One entry departs from the rule: c_0 of C_Rrel row 0 is stored as exactly 1.0, the limit of the
relative function at 0; the interpolant's value there rounds to the double just below 1.

Usage:
    python tools/gen_mills_coef.py            write the header
    python tools/gen_mills_coef.py --check    exit 1 if the committed header differs
    python tools/gen_mills_coef.py --stdout   print the header instead of writing it
"""

import argparse
import math
import sys
from fractions import Fraction
from pathlib import Path

import mpmath
from mpmath import mp

DPS = 60  # working precision, decimal digits; -R''' at x = 31.5 cancels about 10 of them
GRID = 256  # deviation check: s = k/GRID, k = 0 .. GRID, in every row
TIE_MARGIN = Fraction(1, 10**40)  # a coefficient this close (relatively) to a rounding tie is an error

ROOT = Path(__file__).resolve().parent.parent
HEADER = ROOT / "src" / "qarvel" / "_mills_coef.hpp"


# --- the functions, at working precision -------------------------------------------------

def mills(x):
    """R(x) = sqrt(pi/2) erfc(x/sqrt(2)) exp(x^2/2)."""
    return mp.sqrt(mp.pi / 2) * mp.erfc(x / mp.sqrt(2)) * mp.exp(x * x / 2)


def f_rel(x):
    """(sqrt(pi/2) - R(x))/x, with its limit 1 at x = 0."""
    if x == 0:
        return mp.mpf(1)
    return (mp.sqrt(mp.pi / 2) - mills(x)) / x


def f_d1(x):
    """-R'(x) = 1 - x R(x)."""
    return 1 - x * mills(x)


def f_d3(x):
    """-R'''(x) = (x^2 + 2) - x (x^2 + 3) R(x)."""
    return (x * x + 2) - x * (x * x + 3) * mills(x)


# --- row maps: local variable s of row i -> x ------------------------------------------------

def rel_ends(i):
    """Row i of C_Rrel interpolates between the doubles nearest i/12 and (i+1)/12."""
    return float(Fraction(i, 12)), float(Fraction(i + 1, 12))


def x_rel_nodes(i, s):
    a, b = rel_ends(i)
    return mp.mpf(a) + s * (mp.mpf(b) - mp.mpf(a))


def x_rel(i, s):
    # The lookup forms s = 12x - i.
    return (i + s) / 12


def x_r1(i, s):
    t = i + s
    return (mp.mpf(2.5) * t + 32) / (32 - t)


def x_r3(i, s):
    t = i + s
    return mp.mpf(3.5) * t / (50 - t)


def frac_str(q):
    return str(q.numerator) if q.denominator == 1 else f"{q.numerator}/{q.denominator}"


def label_rel(i):
    return f"x in [{frac_str(Fraction(i, 12))}, {frac_str(Fraction(i + 1, 12))}]"


def label_r1(i):
    lo, hi = Fraction(5 * i + 64, 2 * (32 - i)), Fraction(5 * i + 69, 2 * (31 - i))
    return f"t in [{i}, {i + 1}], x in [{frac_str(lo)}, {frac_str(hi)}] = [{float(lo):.6g}, {float(hi):.6g}]"


def label_r3(i):
    lo, hi = Fraction(7 * i, 2 * (50 - i)), Fraction(7 * (i + 1), 2 * (49 - i))
    return f"t in [{i}, {i + 1}], x in [{frac_str(lo)}, {frac_str(hi)}] = [{float(lo):.6g}, {float(hi):.6g}]"


# name, rows, points, function, node map, evaluation map, row label, one-line description
TABLES = [
    ("C_Rrel", 12, 8, f_rel, x_rel_nodes, x_rel, label_rel,
     "(sqrt(pi/2) - R(x))/x on [0, 1]; row i in s = 12x - i."),
    ("C_R1", 26, 8, f_d1, x_r1, x_r1, label_r1,
     "-R'(x) = 1 - x R(x) on [1, 97/6]; row i in s = t - i, t = 32(x - 1)/(x + 2.5)."),
    ("C_R3", 45, 9, f_d3, x_r3, x_r3, label_r3,
     "-R'''(x) = (x^2 + 2) - x(x^2 + 3) R(x) on [0, 31.5]; row i in s = t - i, t = 50x/(x + 3.5)."),
]


# --- interpolation and rounding ----------------------------------------------------------------

def chebyshev_points(n):
    return [(1 - mp.cos((2 * j + 1) * mp.pi / (2 * n))) / 2 for j in range(n)]


def interpolant(nodes, values):
    """Coefficients, ascending powers of s, of the polynomial through (nodes, values)."""
    n = len(nodes)
    d = list(values)
    for k in range(1, n):  # Newton divided differences
        for j in range(n - 1, k - 1, -1):
            d[j] = (d[j] - d[j - 1]) / (nodes[j] - nodes[j - k])
    p = [d[n - 1]]
    for k in range(n - 2, -1, -1):  # p = p*(s - s_k) + d_k
        p = [mp.zero] + p
        for j in range(len(p) - 1):
            p[j] -= nodes[k] * p[j + 1]
        p[0] += d[k]
    return p


def to_fraction(v):
    sign, man, exp, _ = mp.mpf(v)._mpf_  # value = (-1)^sign * man * 2^exp, exactly
    return (-1) ** sign * Fraction(man) * Fraction(2) ** exp


def round_nearest(v):
    """The double nearest to v, refusing a value too close to a rounding tie to decide."""
    q = to_fraction(v)
    d = float(q)  # int/int division: correctly rounded
    ties = [(Fraction(d) + Fraction(math.nextafter(d, w))) / 2 for w in (-math.inf, math.inf)]
    if q != 0 and min(abs(q - t) for t in ties) < abs(q) * TIE_MARGIN:
        raise ArithmeticError(f"coefficient {mpmath.nstr(v, 30)} too close to a rounding tie")
    return d


def make_table(rows, n, func, x_of):
    s_nodes = chebyshev_points(n)
    table = []
    for i in range(rows):
        values = [func(x_of(i, s)) for s in s_nodes]
        table.append([round_nearest(c) for c in interpolant(s_nodes, values)])
    return table


def deviation(row, func, x_of, i):
    """Largest relative deviation of the stored row, evaluated at working precision, on the grid."""
    worst = mp.zero
    for k in range(GRID + 1):
        s = mp.mpf(k) / GRID
        p = mp.zero
        for c in reversed(row):
            p = p * s + mp.mpf(c)
        f = func(x_of(i, s))
        worst = max(worst, abs(p - f) / abs(f))
    return worst


# --- output ----------------------------------------------------------------------------------

def compute():
    """{name: list of rows of doubles}, {name: list of per-row deviations (mpf)}."""
    tables, devs = {}, {}
    with mp.workdps(DPS):
        for name, rows, n, func, x_nodes, x_eval, _, _ in TABLES:
            table = make_table(rows, n, func, x_nodes)
            if name == "C_Rrel":
                # c_0 of row 0 is the limit f_rel(0) = 1; the interpolant gives 1 - 2^-53.
                assert table[0][0] == math.nextafter(1.0, 0.0), table[0][0]
                table[0][0] = 1.0
            tables[name] = table
            devs[name] = [deviation(r, func, x_eval, i) for i, r in enumerate(table)]
    return tables, devs


def fmt_dev(devs, lo, hi):
    i = max(range(lo, hi), key=lambda r: devs[r])
    return f"{float(devs[i]):.1e} (row {i})"


def render():
    tables, devs = compute()
    out = [
        "// _mills_coef.hpp: GENERATED by `python tools/gen_mills_coef.py`; never edit by hand.",
        "//",
        "// Each row is a polynomial piece P(s) = c_0 + c_1 s + ... in the local variable s in [0, 1]",
        "// of its interval, stored in ascending powers of s: the interpolant of the row's function",
        "// at the Chebyshev points of the first kind of [0, 1], s_j = (1 - cos((2j+1) pi/(2N)))/2,",
        "// expanded in powers of s, each coefficient rounded to the nearest double. N = 8 (degree 7)",
        "// for C_Rrel and C_R1, N = 9 (degree 8) for C_R3. R(x) = sqrt(pi/2) erfc(x/sqrt(2)) exp(x^2/2),",
        f"// nodes, function values and interpolation in mpmath at {DPS} significant digits.",
        "// C_Rrel row i is interpolated between the doubles nearest i/12 and (i+1)/12; its row 0",
        "// stores c_0 = 1.0 exactly, the limit at x = 0.",
        "//",
        "// Largest relative deviation found of the stored pieces, evaluated exactly, from the function,",
        f"// on s = k/{GRID}, k = 0..{GRID}, in every row:",
        f"//   C_Rrel {fmt_dev(devs['C_Rrel'], 0, 12)}",
        f"//   C_R1   {fmt_dev(devs['C_R1'], 0, 26)}",
        f"//   C_R3   {fmt_dev(devs['C_R3'], 0, 42)} over rows 0-41; {fmt_dev(devs['C_R3'], 42, 45)} over rows 42-44",
        "",
        "#ifndef QARVEL_MILLS_COEF_HPP",
        "#define QARVEL_MILLS_COEF_HPP",
        "",
        '#include "_kernels/mills.hpp"',
    ]
    for name, rows, n, _, _, _, label, what in TABLES:
        out += ["", f"// {name}: {what}", f"extern const double {name}[{rows * n}] = {{"]
        for i, row in enumerate(tables[name]):
            out.append(f"    // row {i}: {label(i)}")
            out.append("    " + " ".join(f"{c!r}," for c in row))
        out.append("};")
    out += ["", "#endif  // QARVEL_MILLS_COEF_HPP", ""]
    return "\n".join(out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--check", action="store_true", help="compare with the committed header")
    mode.add_argument("--stdout", action="store_true", help="print instead of writing")
    args = ap.parse_args(argv)
    text = render()
    if args.stdout:
        sys.stdout.write(text)
    elif args.check:
        if not HEADER.exists() or HEADER.read_bytes() != text.encode():
            print(f"{HEADER.relative_to(ROOT)} differs from the generator's output", file=sys.stderr)
            return 1
    else:
        HEADER.write_bytes(text.encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
