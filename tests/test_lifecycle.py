"""Loading the extension modules: one interpreter per process, one
initialisation per module object, and a clean failure when NumPy's C
interface cannot be initialised.  Each case runs in a fresh interpreter."""

import subprocess
import sys
import textwrap

import pytest

# module name, and a call that shows the module works
MODULES = [
    ("mills", "m.millsratio(0.0) == 1.2533141373155003"),
    ("symdiff", "m.millsratio_dd(0.0, 0.3, -1) == 3.339458003307186"),
    ("relmeans", "m.powrel(1.0, 2.0) == 1.5"),
    ("ufuncs", "m.powrel(1.0, 2.0) == 1.5"),
]


def run(code):
    """Run code in a fresh interpreter; return its standard output."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


@pytest.mark.parametrize("name, works", MODULES, ids=[m[0] for m in MODULES])
def test_second_interpreter_refused(name, works):
    out = run(f"""
        import _interpreters
        import qarvel.{name} as m
        # an isolated interpreter is refused by the interpreter itself; a
        # legacy one lets the module's own check run
        for config in ("isolated", "legacy"):
            interp = _interpreters.create(config)
            exc = _interpreters.run_string(interp, "import qarvel.{name}")
            _interpreters.destroy(interp)
            print(exc.type.__name__, "|", exc.msg)
        print({works})
    """)
    isolated, legacy, still_works = out.splitlines()
    assert isolated.startswith("ImportError | ")
    assert legacy == ("ImportError | Interpreter change detected - "
                      "this module can only be loaded into one interpreter per process.")
    assert still_works == "True"


@pytest.mark.parametrize("name, works", MODULES, ids=[m[0] for m in MODULES])
def test_initialisation_runs_once_per_module_object(name, works):
    out = run(f"""
        import ctypes, types
        import qarvel.{name} as m
        moddef = ctypes.PyDLL(m.__file__).PyInit_{name}
        moddef.restype = ctypes.c_void_p
        exec_def = ctypes.pythonapi.PyModule_ExecDef
        exec_def.argtypes, exec_def.restype = [ctypes.py_object, ctypes.c_void_p], ctypes.c_int
        print(exec_def(m, moddef()))              # the same object again: nothing happens
        try:
            exec_def(types.ModuleType("qarvel.{name}"), moddef())
        except RuntimeError as e:
            print(e)
        print({works})
    """)
    assert out.splitlines() == [
        "0", f"Module '{name}' has already been imported. Re-initialisation is not supported.", "True"]


@pytest.mark.parametrize("name, works", MODULES, ids=[m[0] for m in MODULES])
def test_numpy_c_interface_failure_then_recovery(name, works):
    out = run(f"""
        import sys, numpy
        umath = numpy._core._multiarray_umath
        api = umath._ARRAY_API
        del umath._ARRAY_API                      # NumPy imports, its C interface does not
        try:
            import qarvel.{name}
        except ImportError as e:
            print(repr(e))
            print(type(e.__context__).__name__)
            print("qarvel.{name}" in sys.modules)
        umath._ARRAY_API = api                    # the fault is gone: a later import succeeds
        import qarvel.{name} as m
        print({works}, getattr(m, "np", numpy) is numpy)
    """)
    assert out.splitlines() == [
        "ImportError('numpy._core.multiarray failed to import')", "AttributeError", "False", "True True"]
