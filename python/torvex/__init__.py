"""torvex: a DAG engine with a C++ core."""

from . import _internal
from ._internal import *  # noqa: F401,F403

# A copy, so extending torvex.__all__ never changes the extension module's list.
__all__ = list(_internal.__all__)
