"""Guards on the binding sources."""

import pathlib
import re

import pytest

SOURCES = pathlib.Path(__file__).resolve().parents[2] / "binding" / "src"
REFCOUNT = re.compile(r"\b(Py_X?INCREF|Py_X?DECREF|Py_X?NewRef|Py_CLEAR|Py_SETREF|Py_RETURN_\w+)\b")


def test_reference_counts_are_touched_only_by_the_reference_type():
    if not SOURCES.is_dir():
        pytest.skip("binding sources not available")
    offenders = [f"{path.relative_to(SOURCES)}:{n}"
                 for path in sorted(SOURCES.rglob("*.[ch]pp")) if path.name != "ref.hpp"
                 for n, line in enumerate(path.read_text().splitlines(), 1)
                 if REFCOUNT.search(line)]
    assert offenders == []
