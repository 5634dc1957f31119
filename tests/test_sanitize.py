"""The kernel sources, as installed, under AddressSanitizer and
UndefinedBehaviorSanitizer: every kernel over hostile inputs, no report."""

import os
import shutil
import subprocess
from pathlib import Path

import qarvel

DRIVER = Path(__file__).resolve().parent / "sanitize" / "driver.cpp"
SANITIZE = ["-fsanitize=address,undefined,float-cast-overflow", "-fno-sanitize-recover=all"]


def test_kernels_under_sanitizers(tmp_path):
    inc = Path(qarvel.get_include())
    # the divided-difference kernels with the Mills kernels they call, as the
    # symdiff module compiles them
    sources = [inc / "_kernels" / "mills.cpp", inc / "_kernels" / "symdiff.cpp"]
    exe = tmp_path / "driver"
    cxx = os.environ.get("CXX", shutil.which("g++") or "c++")
    subprocess.run([cxx, "-std=c++17", "-O1", "-g", "-ffp-contract=off", *SANITIZE, f"-I{inc}",
                    str(DRIVER), *map(str, sources), "-o", str(exe)], check=True)
    env = dict(os.environ, ASAN_OPTIONS="abort_on_error=1:detect_leaks=1",
               UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
    proc = subprocess.run([str(exe)], capture_output=True, text=True, env=env, timeout=600)
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr[-4000:]
    calls = int(proc.stdout.split("calls:")[1])
    assert calls > 1_000_000
