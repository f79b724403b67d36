"""One timed call, for the stand-alone bench scripts beside the harness."""

import gc
import time


def timed(fn):
    """fn's result and its wall time in seconds. The cyclic collector is held off meanwhile: it
    would otherwise rescan the growing structures again and again."""
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        result = fn()
        return result, time.perf_counter() - start
    finally:
        gc.enable()
