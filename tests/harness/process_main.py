"""The entry point every process test shares.

    python3 x_process_test.py PROGRAM... [TestCase[.test_name] ...]

The first `programs` arguments are the binaries under test; whatever follows names the cases
to run, as unittest takes them. A run in which nothing could run exits with SKIPPED, so that
ctest (SKIP_RETURN_CODE) reports it as skipped rather than passed.
"""
import sys
import unittest

SKIPPED = 77


def programs(count):
    """The binaries under test, read before the test module's classes are built."""
    if len(sys.argv) <= count:
        sys.exit(f"usage: {sys.argv[0]} PROGRAM x{count} [TestCase[.test_name] ...]")
    return sys.argv[1:1 + count]


def main(count, verbosity=2, unavailable=None):
    """Runs the named cases (all when none are named). `unavailable` is the reason the whole
    module cannot run on this machine, or None."""
    if unavailable:
        print(f"skipped: {unavailable}")
        sys.exit(SKIPPED)
    run = unittest.main(argv=[sys.argv[0]] + sys.argv[1 + count:], verbosity=verbosity,
                        exit=False)
    result = run.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.testsRun and len(result.skipped) == result.testsRun:
        sys.exit(SKIPPED)
    sys.exit(0)
