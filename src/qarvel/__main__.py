"""Command line: evaluate one qarvel function at the given points.

    python -m qarvel FUNCTION [--naive] [--OPTION VALUE ...] [X ...]
    python -m qarvel --list

Prints one line per point: the point and the value to 17 significant digits;
with --naive, also the textbook formula evaluated in double precision, to
show what it loses.  With no points, whitespace-separated numbers are read
from standard input.
Exit status 2 for a usage error (unknown function or option, a token that is
not a number), 1 when the function rejects a point (outside its domain).
"""

import importlib
import math
import sys

import numpy as np


class Function:
    """A function of the command line: where it lives, what it computes, and
    its scalar options (name, converter, default; default None = required)."""

    def __init__(self, module, name, summary, options=()):
        self.module = module
        self.name = name
        self.summary = summary
        self.options = options

    def load(self):
        return getattr(importlib.import_module("qarvel." + self.module), self.name)


# The textbook formulas, in double precision with IEEE overflow and 0/0
# (NumPy scalars, errors silenced): what a user would write without qarvel.

def _f(v):
    return np.float64(v)


def _R(x):
    # N(-x)/n(x) = (erfc(x/sqrt 2)/2) / (exp(-x^2/2)/sqrt(2 pi))
    return _f(0.5 * math.erfc(x / math.sqrt(2))) / (np.exp(_f(-x * x / 2)) / math.sqrt(2 * math.pi))


def _R_n(x, n):
    # the depth-n continued fraction 1/(x + 1/(x + 2/(x + ... + n/x)))
    t = _f(x)
    for k in range(n, 0, -1):
        t = x + k / t
    return 1 / t


def _dd(x, dx, theta=1):
    if theta < 0:
        return (_R(dx - x) + _R(x + dx)) / _f(2 * dx)
    return (_R(x - dx) - _R(x + dx)) / _f(2 * dx)


TEXTBOOK = {
    "millsratio": _R,
    "millsratio_d1": lambda x: 1 - x * _R(x),
    "millsratio_d3": lambda x: (x * x + 2) - x * (x * x + 3) * _R(x),
    "millsratio_rel_below1": lambda x: (math.sqrt(math.pi / 2) - _R(x)) / _f(x),
    "millsratio_dd": _dd,
    "millsratio_dd_cf": lambda x, dx, n_terms=4: (_R_n(x - dx, n_terms) - _R_n(x + dx, n_terms)) / _f(2 * dx),
    "logrel": lambda x: np.log(_f(1 + x)) / _f(x),
    "powrel": lambda x, a: (_f(1 + x) ** a - 1) / _f(a * x),
}


FUNCTIONS = {
    f.name: f
    for f in [
        Function("mills", "millsratio", "Mills ratio R(x) = N(-x)/n(x), any x"),
        Function("mills", "millsratio_d1", "-R'(x) = 1 - x R(x), any x"),
        Function("mills", "millsratio_d3", "-R'''(x), any x"),
        Function("mills", "millsratio_rel_below1", "(sqrt(pi/2) - R(x))/x, 0 <= x <= 1"),
        Function(
            "symdiff", "millsratio_dd",
            "(R(x-dx) - R(x+dx))/(2 dx); theta < 0: (R(dx-x) + R(x+dx))/(2 dx)",
            (("dx", float, None), ("theta", int, 1)),
        ),
        Function(
            "symdiff", "millsratio_dd_cf",
            "divided difference of the depth-n_terms continued fraction of R",
            (("dx", float, None), ("n_terms", int, 4)),
        ),
        Function("relmeans", "logrel", "log(1 + x)/x, x > -1"),
        Function("relmeans", "powrel", "((1 + x)^a - 1)/(a x), x > -1",
                 options=[("a", float, None)]),
    ]
}


class UsageError(Exception):
    pass


def parse_number(token):
    try:
        return float(token)
    except ValueError:
        raise UsageError(f"not a number: {token!r}") from None


def parse_args(fn, args):
    """Split args into option values (by name) and point tokens.  Options are
    spelled --name VALUE or --name=VALUE; anything else is a point, so that
    negative numbers need no quoting."""
    known = {name: (conv, default) for name, conv, default in fn.options}
    values, points = {}, []
    i = 0
    while i < len(args):
        tok = args[i]
        if tok == "--naive":
            values["naive"] = True
        elif tok.startswith("--"):
            name, eq, value = tok[2:].partition("=")
            name = name.replace("-", "_")
            if name not in known:
                raise UsageError(f"{fn.name} has no option --{name}")
            if not eq:
                i += 1
                if i == len(args):
                    raise UsageError(f"option --{name} needs a value")
                value = args[i]
            conv = known[name][0]
            try:
                values[name] = conv(value)
            except ValueError:
                raise UsageError(f"bad value for --{name}: {value!r}") from None
        else:
            points.append(tok)
        i += 1
    values.setdefault("naive", False)
    for name, (conv, default) in known.items():
        if name not in values:
            if default is None:
                raise UsageError(f"{fn.name} needs --{name}")
            values[name] = default
    return values, points


def listing():
    width = max(map(len, FUNCTIONS))
    lines = []
    for f in FUNCTIONS.values():
        opts = "".join(
            f" --{n} V" if d is None else f" [--{n} {d}]" for n, _, d in f.options
        )
        lines.append(f"{f.name:<{width}}  {f.summary}{'  (' + opts.strip() + ')' if opts else ''}")
    return "\n".join(lines)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] in ("-h", "--help"):
        print(__doc__.strip())
        print()
        print(listing())
        return 0 if argv else 2
    if argv[0] == "--list":
        print(listing())
        return 0
    try:
        fn = FUNCTIONS.get(argv[0])
        if fn is None:
            raise UsageError(f"unknown function {argv[0]!r} (python -m qarvel --list)")
        options, tokens = parse_args(fn, argv[1:])
        if not tokens:
            tokens = sys.stdin.read().split()
        xs = [parse_number(t) for t in tokens]
    except UsageError as e:
        print(f"qarvel: {e}", file=sys.stderr)
        return 2
    naive = options.pop("naive")
    func = fn.load()
    try:
        values = func(xs, **options) if xs else []
    except ValueError as e:
        print(f"qarvel: {fn.name}: {e}", file=sys.stderr)
        return 1
    textbook = TEXTBOOK[fn.name]
    if naive:
        print(f"{'x':>24}  {fn.name:<24}  textbook formula")
    for x, v in zip(xs, values):
        line = f"{x!r:>24}  {float(v):<24.17g}"
        if naive:
            with np.errstate(all="ignore"):
                line += f"  {float(textbook(x, **options)):.17g}"
        print(line.rstrip())
    return 0

if __name__ == "__main__":
    sys.exit(main())
