"""The Python functions under hostile input, repeated calls and threads.

Every call either returns the documented result or raises one of the
documented exception types; it never crashes and never writes into the
caller's data.  Array results equal element-wise calls of the same function.
Repeated calls leak neither memory nor references, and concurrent calls get
exactly the results of serial ones."""

import gc
import resource
import sys
import threading
import tracemalloc
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import helpers as h
from qarvel import mills, relmeans, symdiff, ufuncs

# (function, number of array arguments, integer parameter name or None)
FUNCTIONS = [
    (mills.millsratio, 1, None),
    (mills.millsratio_d1, 1, None),
    (mills.millsratio_d3, 1, None),
    (mills.millsratio_rel_below1, 1, None),
    (symdiff.millsratio_dd, 2, "theta"),
    (symdiff.millsratio_dd_cf, 2, "n_terms"),
    (relmeans.logrel, 1, None),
    (relmeans.powrel, 2, None),
]
IDS = [f[0].__name__ for f in FUNCTIONS]

# What the functions may raise: conversion and broadcasting errors from
# NumPy, the domain and read-only-buffer ValueErrors, the integer parameter's
# TypeError and OverflowError.
DOCUMENTED = (TypeError, ValueError, OverflowError)

SETTINGS = settings(max_examples=120, deadline=None, derandomize=True,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

# --- hostile arguments -----------------------------------------------------------

scalars = st.one_of(
    st.floats(allow_nan=True, allow_infinity=True),
    st.integers(min_value=-2**80, max_value=2**80),
    st.booleans(),
    st.complex_numbers(allow_nan=True, allow_infinity=True),
    st.text(max_size=6),
    st.sampled_from([None, object(), "1.5", b"2.5", "nan", "-inf", (), [], {}]),
)

DTYPES = ["f8", "f4", "f2", ">f8", "<f4", "i1", "i8", "u8", "?", "c16", "M8[D]", "m8[s]",
          "U6", "S6", "O"]


@st.composite
def arrays(draw):
    dtype = np.dtype(draw(st.sampled_from(DTYPES)))
    shape = tuple(draw(st.lists(st.integers(0, 4), max_size=3)))
    size = int(np.prod(shape))
    values = draw(st.lists(st.floats(-50, 50) | st.sampled_from([np.nan, np.inf, -np.inf, 0.0, -1.0, 1.0]),
                           min_size=size, max_size=size))
    if dtype.kind in "US":
        junk = draw(st.sampled_from(["1.5", "abc", "", "nan", "1e400"]))
        a = np.array([junk if i % 3 == 0 else repr(v) for i, v in enumerate(values)], dtype=dtype)
    elif dtype.kind == "O":
        a = np.empty(size, dtype=object)
        a[:] = [draw(scalars) if i % 4 == 0 else v for i, v in enumerate(values)]
    else:
        with np.errstate(all="ignore"), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            a = np.array(values).astype(dtype)
    a = a.reshape(shape)
    # views: transposed, strided, read-only, broadcast
    view = draw(st.sampled_from(["plain", "T", "strided", "readonly", "broadcast"]))
    if view == "T":
        a = a.T
    elif view == "strided" and a.ndim:
        a = a[..., ::2]
    elif view == "readonly":
        a.flags.writeable = False
    elif view == "broadcast":
        a = np.broadcast_to(a, (2,) + a.shape)
    return a


ragged = st.recursive(st.floats(-5, 5) | st.integers(-3, 3),
                      lambda inner: st.lists(inner, max_size=3), max_leaves=12)
huge_and_tiny = st.sampled_from([
    np.empty((0, 2**40)), np.zeros((1,) * 32), np.array(0.5), np.empty((3, 0, 2)),
    np.broadcast_to(np.float64(0.25), (300_000,)), [[[[[[[[[[0.5]]]]]]]]]],
])
arguments = st.one_of(scalars, arrays(), ragged, huge_and_tiny)
int_params = st.one_of(
    st.integers(min_value=-2**70, max_value=2**70),
    st.sampled_from([2**31 - 1, -2**31, 2**31, -2**31 - 1, 2**63, True, False, 1.9, -0.5, 1e30,
                     float("nan"), float("inf"), "1", None, np.int64(3), np.float32(2.5)]),
)


def snapshot(arg):
    """What the caller holds, to prove it unchanged afterwards."""
    if isinstance(arg, np.ndarray):
        return (arg.dtype, arg.shape, arg.tobytes() if arg.dtype != object else repr(arg.tolist()))
    return repr(arg)


def as_float_array(arg):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return np.asarray(arg, dtype=np.float64)


def check_call(f, args, kwargs):
    before = [snapshot(a) for a in args]
    try:
        with warnings.catch_warnings(), np.errstate(all="ignore"):
            warnings.simplefilter("ignore")
            result = f(*args, **kwargs)
    except DOCUMENTED:
        result = None
    assert [snapshot(a) for a in args] == before, "argument written"
    if result is None:
        return
    # the documented result: float for 0-d, else float64 of the broadcast shape,
    # each element the function of the converted elements
    converted = np.broadcast_arrays(*[as_float_array(a) for a in args])
    if converted[0].ndim == 0:
        assert type(result) is float
    else:
        assert isinstance(result, np.ndarray) and result.dtype == np.float64
        assert result.shape == converted[0].shape
    flat = [c.ravel() for c in converted]
    n = flat[0].size
    picks = range(n) if n <= 64 else np.linspace(0, n - 1, 64).astype(int)
    got = np.ravel(result)
    for i in picks:
        want = f(*[float(c[i]) for c in flat], **kwargs)
        assert h.bits(float(got[i])) == h.bits(want) or (np.isnan(got[i]) and np.isnan(want))


def as_int32(p):
    """The int a parameter converts to, or None when the conversion must fail:
    no integer conversion, or a value outside the 32-bit range."""
    if isinstance(p, (str, type(None))):
        return None
    try:
        v = int(p)
    except (ValueError, OverflowError):
        return None
    return v if -2**31 <= v < 2**31 else None


@pytest.mark.parametrize("f, nargs, param", FUNCTIONS, ids=IDS)
@SETTINGS
@given(data=st.data())
def test_hostile_arguments(f, nargs, param, data):
    args = [data.draw(arguments) for _ in range(nargs)]
    kwargs = {}
    if param is not None and data.draw(st.booleans()):
        p = data.draw(int_params)
        if as_int32(p) is None:
            # a bad parameter is reported first, whatever the arrays are
            with pytest.raises((TypeError, ValueError, OverflowError)):
                f(*args, **{param: p})
            return
        kwargs = {param: p}
    check_call(f, args, kwargs)


# --- no leaks --------------------------------------------------------------------

def _calls(f, nargs, param):
    """An array call, a scalar call and a call that raises, for f."""
    x = np.linspace(0.05, 0.95, 16)
    arr = (x,) * nargs
    sca = (0.5,) * nargs
    bad = ("not a number",) * nargs
    return [lambda: f(*arr), lambda: f(*sca), lambda: f(*bad)]


@pytest.mark.parametrize("f, nargs, param", FUNCTIONS, ids=IDS)
def test_no_leaks(f, nargs, param):
    x = np.linspace(0.05, 0.95, 16)
    calls = _calls(f, nargs, param)
    rounds = 100_000 // len(calls)

    def run(k):
        for _ in range(k):
            for c in calls:
                try:
                    c()
                except ValueError:
                    pass

    run(2000)                      # warm caches: interned objects, NumPy's own
    gc.collect()
    refs = sys.getrefcount(x), sys.getrefcount(0.5)
    tracemalloc.start()
    base = tracemalloc.get_traced_memory()[0]
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    run(rounds)
    gc.collect()
    grown = tracemalloc.get_traced_memory()[0] - base
    tracemalloc.stop()
    rss_grown_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - rss
    assert grown < 64 * 1024, f"{grown} bytes still allocated after {rounds * len(calls)} calls"
    assert rss_grown_kib < 8 * 1024
    assert (sys.getrefcount(x), sys.getrefcount(0.5)) == refs


# --- threads ---------------------------------------------------------------------

@pytest.mark.filterwarnings("ignore:overflow encountered:RuntimeWarning")   # R(x) for x < -37.7
def test_threads_get_serial_results():
    rng = np.random.default_rng(7)
    x = rng.uniform(-40, 100, 20_000)
    unit = rng.uniform(0, 1, 20_000)
    dx = rng.uniform(0, 2, 20_000)
    rel = rng.uniform(-0.99, 50, 20_000)
    work = [
        lambda: mills.millsratio(x), lambda: mills.millsratio_d1(x), lambda: mills.millsratio_d3(x),
        lambda: mills.millsratio_rel_below1(unit), lambda: symdiff.millsratio_dd(x, dx),
        lambda: symdiff.millsratio_dd(x, dx, -1), lambda: symdiff.millsratio_dd_cf(x, dx, 6),
        lambda: relmeans.logrel(rel), lambda: relmeans.powrel(rel, dx),
        # the ufuncs run their loops without the interpreter lock, truly in parallel
        lambda: ufuncs.millsratio(x), lambda: ufuncs.millsratio_d3(x.astype(np.float32)),
        lambda: ufuncs.millsratio_dd(x, dx, -1), lambda: ufuncs.millsratio_dd_cf(x, dx, 6),
        lambda: ufuncs.powrel(rel, dx),
    ]
    serial = [h.bits_array(w()) for w in work]
    failures = []
    start = threading.Barrier(8)

    def worker(seed):
        start.wait()
        order = np.random.default_rng(seed).permutation(len(work) * 5) % len(work)
        for k in order:
            if h.bits_array(work[k]()) != serial[k]:
                failures.append(k)

    threads = [threading.Thread(target=worker, args=(s,)) for s in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
