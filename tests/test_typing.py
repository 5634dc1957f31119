"""The installed type stubs, checked with mypy."""

import subprocess
import sys
from pathlib import Path

USAGE = Path(__file__).resolve().parent / "typecheck" / "usage.py"


def test_stubs_with_mypy(tmp_path):
    # run from an empty directory, so the installed package is the one checked
    proc = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", str(USAGE)],
                          cwd=tmp_path, capture_output=True, text=True)
    assert proc.returncode == 0, proc.stdout + proc.stderr
