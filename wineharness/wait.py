"""Polling: an attempt raises NotYet until what it waits for holds."""

import time


class NotYet(Exception):
    """Raised by an attempt that a wait should make again."""


def wait_for(attempt, what, timeout=20.0, interval=0.05):
    """Calls attempt() until it returns without NotYet and returns its
    result; at the deadline fails with the last NotYet's message."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return attempt()
        except NotYet as failure:
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"gave up after {timeout:.0f} s waiting for {what}: {failure}") from None
        time.sleep(interval)
