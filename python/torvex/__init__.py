"""torvex: a DAG engine with a C++ core."""

from importlib.metadata import PackageNotFoundError, version as _version

from . import _internal
from ._internal import *  # noqa: F401,F403

# A copy, so extending torvex.__all__ never changes the extension module's list.
__all__ = list(_internal.__all__)

try:
    __version__ = _version("torvex")
except PackageNotFoundError:  # imported from a tree that was never installed
    __version__ = "0+unknown"
