import gc
import sys

import pytest


@pytest.fixture
def core():
    from vexlor import _core_rs

    return _core_rs


def allocated_growth(fn, warmup=50, rounds=2000):
    """Blocks still allocated after `rounds` more calls of `fn`, after warm-up.

    Interned names and cached imports are made on first use and kept, so the
    first calls are not counted.
    """
    for _ in range(warmup):
        fn()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(rounds):
        fn()
    gc.collect()
    return sys.getallocatedblocks() - before
