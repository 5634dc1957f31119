"""The committed coefficient header: regenerated bit for bit, known rows, and accuracy."""

import re
import runpy
from fractions import Fraction
from pathlib import Path

import mpmath
import pytest

from helpers import R1, R3, Rrel

ROOT = Path(__file__).resolve().parent.parent
HEADER = ROOT / "src" / "qarvel" / "_mills_coef.hpp"
GENERATOR = ROOT / "tools" / "gen_mills_coef.py"


def parse_tables(text):
    """{name: [double, ...]} for every `extern const double NAME[n] = {...};` in the header."""
    tables = {}
    for name, size, body in re.findall(r"extern const double (\w+)\[(\d+)\] = \{(.*?)\};", text, re.S):
        body = re.sub(r"//[^\n]*", "", body)
        tables[name] = [float(v) for v in body.replace(",", " ").split()]
        assert len(tables[name]) == int(size), name
    return tables


@pytest.fixture(scope="module")
def tables():
    return parse_tables(HEADER.read_text())


def test_header_is_generator_output():
    render = runpy.run_path(str(GENERATOR))["render"]
    assert HEADER.read_bytes() == render().encode(), "rerun: python tools/gen_mills_coef.py"


@pytest.mark.parametrize("name, rows, width", [("C_Rrel", 12, 8), ("C_R1", 26, 8), ("C_R3", 45, 9)])
def test_shape(tables, name, rows, width):
    assert len(tables[name]) == rows * width


# Rows whose every coefficient is known independently, as shortest round-trip decimals.
KNOWN_ROWS = [
    ("C_Rrel", 8, 0, "1.0 -0.05222142238813716 0.002314814814632304 -9.066219018308359e-05 "
     "3.2150148093635393e-06 -1.049207214667232e-07 3.1747412868461658e-09 -8.181832155743707e-11"),
    ("C_Rrel", 8, 6, "0.7538993617236158 -0.032013598325074694 0.001200491591859211 -4.076330538660189e-05 "
     "1.2744446141417648e-06 -3.712384505587928e-08 1.0129151506068687e-09 -2.3901605254302183e-11"),
    ("C_Rrel", 8, 11, "0.6194428089243869 -0.02252818859274345 0.0007418496349378746 -2.249422893909321e-05 "
     "6.356335378143368e-07 -1.6888739426799828e-08 4.235564664619773e-10 -9.295303129514128e-12"),
    ("C_R1", 8, 0, "0.34432045758120156 -0.03405489990411223 0.001192475013485524 -1.3635915460280841e-05 "
     "-1.3251365677088036e-07 2.4578598186034305e-09 4.7259798016565235e-11 -2.1299291732726891e-13"),
    ("C_R1", 8, 13, "0.07050907604494921 -0.010686155738024478 0.0005969875285749982 -1.48153806721575e-05 "
     "1.0003241787830908e-07 3.4553412408264596e-09 -4.4701242481255216e-11 -1.3764887281773427e-12"),
    ("C_R1", 8, 25, "0.005399035170233996 -0.0017992474166552762 0.00019035152391663708 -7.275888307985233e-06 "
     "1.626582865548259e-07 -1.3410511347824749e-09 -4.2913325720609484e-11 1.409765189350702e-12"),
    ("C_R3", 9, 0, "2.0 -0.26319596883625507 0.014336080623274922 -0.0003959952602827748 "
     "4.9514198856184626e-06 4.228710181162853e-09 -6.27381397100515e-10 -1.2478958407475078e-12 "
     "8.792260397509944e-14"),
    ("C_R3", 9, 20, "0.06899081628828221 -0.014746415915568599 0.001380099189445872 -7.316914805963587e-05 "
     "2.3251082792740127e-06 -4.0202423356568145e-08 1.3629245235280943e-10 7.699681039118555e-12 "
     "-8.096615290884678e-14"),
    ("C_R3", 9, 41, "8.932778278723018e-05 -4.750286863181163e-05 1.0452073793884978e-05 -1.2428336593835535e-06 "
     "8.891769978275243e-08 -4.143719984494855e-09 1.347336671455385e-10 -2.976294539588219e-12 "
     "3.5147617349765186e-14"),
    ("C_R3", 9, 44, "1.3618684871246934e-05 -1.0240158871515846e-05 3.09855654748656e-06 -4.839562344425118e-07 "
     "4.2339425714291866e-08 -2.227233852439785e-09 8.123610422588729e-11 -2.112980412160489e-12 "
     "3.472000806969173e-14"),
]


@pytest.mark.parametrize("name, width, row, decimals", KNOWN_ROWS, ids=[f"{c[0]}-row{c[2]}" for c in KNOWN_ROWS])
def test_known_rows_bit_for_bit(tables, name, width, row, decimals):
    stored = tables[name][width * row: width * (row + 1)]
    assert [c.hex() for c in stored] == [float(d).hex() for d in decimals.split()]


# Every row against mpmath at its ends and middle: name, width, rows, x of the row variable
# t = row + s, the function, relative tolerance.
ACCURACY = [
    ("C_Rrel", 8, range(12), lambda t: t / 12, Rrel, 2e-16),
    ("C_R1", 8, range(26), lambda t: (mpmath.mpf(2.5) * t + 32) / (32 - t), R1, 2.5e-16),
    ("C_R3", 9, range(42), lambda t: mpmath.mpf(3.5) * t / (50 - t), R3, 2e-16),
    ("C_R3", 9, range(42, 45), lambda t: mpmath.mpf(3.5) * t / (50 - t), R3, 5e-16),
]


@pytest.mark.parametrize("name, width, rows, x_of, func, tol", ACCURACY,
                         ids=[f"{c[0]}-rows{c[2].start}-{c[2].stop - 1}" for c in ACCURACY])
def test_rows_reproduce_function(tables, name, width, rows, x_of, func, tol):
    with mpmath.workdps(60):
        for row in rows:
            coef = [Fraction(c) for c in tables[name][width * row: width * (row + 1)]]
            for s in (Fraction(0), Fraction(1, 2), Fraction(1)):
                p = Fraction(0)
                for c in reversed(coef):  # exact evaluation of the stored piece
                    p = p * s + c
                f = func(x_of(row + mpmath.mpf(float(s))))
                err = abs(mpmath.mpf(p.numerator) / p.denominator - f) / abs(f)
                assert err <= tol, (name, row, float(s), float(err))
