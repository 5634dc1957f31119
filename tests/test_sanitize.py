"""The kernel sources, as installed, and the ufunc inner loops under
AddressSanitizer and UndefinedBehaviorSanitizer: every kernel over hostile
inputs, every loop over every kind of stride, no report and no failed
check."""

import os
import shutil
import subprocess
import sysconfig
from pathlib import Path

import numpy as np

import qarvel

DRIVER = Path(__file__).resolve().parent / "sanitize" / "driver.cpp"
# The inner loops are a build-time header of the ufuncs module, not installed.
LOOPS = Path(__file__).resolve().parent.parent / "src" / "qarvel"
SANITIZE = ["-fsanitize=address,undefined,float-cast-overflow", "-fno-sanitize-recover=all"]


def test_kernels_under_sanitizers(tmp_path):
    inc = Path(qarvel.get_include())
    # the divided-difference kernels with the Mills kernels they call, as the
    # symdiff module compiles them
    sources = [inc / "_kernels" / "mills.cpp", inc / "_kernels" / "symdiff.cpp"]
    exe = tmp_path / "driver"
    cxx = os.environ.get("CXX", shutil.which("g++") or "c++")
    includes = [f"-I{inc}", f"-I{LOOPS}", f"-I{np.get_include()}", f"-I{sysconfig.get_paths()['include']}"]
    subprocess.run([cxx, "-std=c++17", "-O1", "-g", "-ffp-contract=off", *SANITIZE, *includes,
                    str(DRIVER), *map(str, sources), "-o", str(exe)], check=True)
    env = dict(os.environ, ASAN_OPTIONS="abort_on_error=1:detect_leaks=1",
               UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
    proc = subprocess.run([str(exe)], capture_output=True, text=True, env=env, timeout=600)
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr[-4000:]
    calls = int(proc.stdout.split("calls:")[1])
    assert calls > 1_000_000
