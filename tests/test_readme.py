"""The examples of the README run as shown."""

import doctest
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples():
    result = doctest.testfile(str(README), module_relative=False, optionflags=doctest.NORMALIZE_WHITESPACE)
    assert result.failed == 0 and result.attempted > 0
