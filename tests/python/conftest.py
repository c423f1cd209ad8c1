import gc
import os
import select
import signal
import subprocess
import sys
import textwrap
import time

import pytest


# Fuzz tests draw from a fixed seed; VEXLOR_FUZZ_SCALE runs them longer (CI
# runs them once more with a larger scale and a time limit).
FUZZ_SCALE = int(os.environ.get("VEXLOR_FUZZ_SCALE", "1"))


def fuzz_rounds(n):
    """The number of random cases a fuzz test tries: `n` times the scale."""
    return n * FUZZ_SCALE


def damage(items, rng, insert, replace=None):
    """Changes the list `items` by one to three random edits: an item dropped,
    one inserted (made by `insert()`), or one replaced by `replace()` (without
    `replace`, swapped with the next one)."""
    for _ in range(rng.randrange(1, 4)):
        i = rng.randrange(len(items) + 1)
        op = rng.randrange(3)
        if op == 0 and i < len(items):
            del items[i]
        elif op == 1:
            items.insert(i, insert())
        elif replace and i < len(items):
            items[i] = replace()
        elif not replace and i + 1 < len(items):
            items[i], items[i + 1] = items[i + 1], items[i]


def pytest_sessionstart(session):
    # The test command stages the freshly built package; make sure that is
    # the one under test, not an older copy installed elsewhere.
    stage = os.environ.get("VEXLOR_STAGE_DIR")
    if stage:
        from vexlor import _core_rs

        assert os.path.realpath(_core_rs.__file__).startswith(os.path.realpath(stage) + os.sep), _core_rs.__file__


@pytest.fixture
def core():
    from vexlor import _core_rs

    return _core_rs


def allocated_growth(fn, warmup=50, rounds=2000):
    """Blocks still allocated after `rounds` more calls of `fn`, after warm-up.

    Interned names and cached imports are made on first use and kept, so the
    first calls are not counted. The rounds are measured twice and the smaller
    growth returned: a leak grows in both, while a one-time growth inside the
    interpreter (a cache or a table that fills up) shows in one only.
    """
    for _ in range(warmup):
        fn()

    def batch():
        gc.collect()
        before = sys.getallocatedblocks()
        for _ in range(rounds):
            fn()
        gc.collect()
        return sys.getallocatedblocks() - before

    return min(batch(), batch())


def seconds_to_interrupt(setup, loop, after=0.2, limit=20.0):
    """Runs `setup`, then `loop` (code that would not end by itself) in a fresh
    interpreter, sends it SIGINT `after` seconds into the loop, and returns
    the seconds from the signal until the loop ended with KeyboardInterrupt
    (None if it did not end within `limit`; the child is then killed)."""
    code = textwrap.dedent(setup) + textwrap.dedent(f"""
        print("ready", flush=True)
        try:
            {loop}
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        """)
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(after)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        ready, _, _ = select.select([child.stdout], [], [], limit)
        if not ready:
            return None
        assert child.stdout.readline().strip() == "interrupted"
        return time.monotonic() - sent
    finally:
        child.kill()
        child.communicate()
