"""python -m qarvel: values to 17 digits, standard input, --list, --naive,
and one-line errors with their exit statuses."""

import subprocess
import sys

import pytest

from qarvel import mills


def qarvel(*args, stdin=None):
    return subprocess.run([sys.executable, "-m", "qarvel", *args], input=stdin,
                          capture_output=True, text=True, timeout=60)


def test_values_round_trip():
    r = qarvel("millsratio", "-40", "-1", "0", "1", "9.5", "40", "1e8")
    assert r.returncode == 0 and r.stderr == ""
    rows = [line.split() for line in r.stdout.splitlines()]
    assert [float(x) for x, _ in rows] == [-40, -1, 0, 1, 9.5, 40, 1e8]
    # 17 significant digits: every value reads back as the same double
    assert [float(v) for _, v in rows] == [mills.millsratio(float(x)) for x, _ in rows]


def test_points_from_standard_input():
    r = qarvel("millsratio_d1", stdin="0.5\n 2  30\n")
    assert r.returncode == 0
    assert [float(line.split()[1]) for line in r.stdout.splitlines()] == \
        [mills.millsratio_d1(v) for v in (0.5, 2.0, 30.0)]


def test_list_names_every_function():
    r = qarvel("--list")
    names = [line.split()[0] for line in r.stdout.splitlines()]
    assert r.returncode == 0 and names == [
        "millsratio", "millsratio_d1", "millsratio_d3", "millsratio_rel_below1",
        "millsratio_dd", "millsratio_dd_cf", "logrel", "powrel"]


def test_naive_column_shows_the_textbook_failure():
    r = qarvel("millsratio_d1", "--naive", "50")
    header, row = r.stdout.splitlines()
    x, ours, textbook = row.split()
    assert header.split()[-2:] == ["textbook", "formula"]
    assert float(ours) == mills.millsratio_d1(50.0) and textbook == "nan"


@pytest.mark.parametrize("args, status, message", [
    (["nosuch", "1"], 2, "qarvel: unknown function 'nosuch' (python -m qarvel --list)"),
    (["millsratio", "1", "abc"], 2, "qarvel: not a number: 'abc'"),
    (["millsratio", "--dx", "1", "1"], 2, "qarvel: millsratio has no option --dx"),
    (["millsratio_dd", "1"], 2, "qarvel: millsratio_dd needs --dx"),
    (["millsratio_dd", "--dx", "1", "--theta", "x", "1"], 2, "qarvel: bad value for --theta: 'x'"),
    (["millsratio_rel_below1", "2"], 1,
     "qarvel: millsratio_rel_below1: millsratio_rel_below1 requires 0 <= x <= 1."),
])
def test_errors_are_one_line(args, status, message):
    r = qarvel(*args)
    assert (r.returncode, r.stderr, r.stdout) == (status, message + "\n", "")
