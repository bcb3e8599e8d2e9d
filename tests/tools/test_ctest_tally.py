"""The test command's count of a ctest run: what is a pass, a failure, a skip,
and which failure alone may run again (tools/ctest_tally.py)."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import ctest_tally  # noqa: E402

JUNIT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="x" tests="9">
  <testcase name="A.Passes" status="run"><system-out>[  PASSED  ] 1 test.</system-out></testcase>
  <testcase name="A.Fails" status="fail"><failure message=""/><system-out>[  FAILED  ] 1 test</system-out></testcase>
  <testcase name="A.HangsAfterPassing" status="fail"><failure message=""/><system-out>[ RUN      ] A.HangsAfterPassing
[       OK ] A.HangsAfterPassing (5 ms)
[==========] 1 test from 1 test suite ran. (5 ms total)
[  PASSED  ] 1 test.</system-out></testcase>
  <testcase name="A.FailsThenHangs" status="fail"><failure message=""/><system-out>[ RUN      ] A.FailsThenHangs
[  FAILED  ] A.FailsThenHangs (5 ms)
[==========] 1 test from 1 test suite ran. (5 ms total)
[  PASSED  ] 0 tests.
[  FAILED  ] 1 test, listed below:
[  FAILED  ] A.FailsThenHangs</system-out></testcase>
  <testcase name="A.PassesFewerThanRan" status="fail"><failure message=""/><system-out>[==========] 2 tests from 1 test suite ran. (5 ms total)
[  PASSED  ] 1 test.</system-out></testcase>
  <testcase name="A.PassedWithoutARun" status="fail"><failure message=""/><system-out>[  PASSED  ] 1 test.</system-out></testcase>
  <testcase name="A.TimesOutFailing" status="fail"><failure message=""/><system-out>[ RUN      ] A.TimesOutFailing</system-out></testcase>
  <testcase name="A.Skips" status="notrun"><skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/><system-out>[  SKIPPED ]</system-out></testcase>
  <testcase name="A.Missing" status="notrun"><skipped message="Unable to find executable"/><system-out/></testcase>
</testsuite>
"""
LOG = """The following tests FAILED:
\t  2 - A.Fails (Failed)
\t  3 - A.HangsAfterPassing (Timeout)
\t  4 - A.FailsThenHangs (Timeout)
\t  5 - A.PassesFewerThanRan (Timeout)
\t  6 - A.PassedWithoutARun (Timeout)
\t  7 - A.TimesOutFailing (Timeout)
"""


class Tally(unittest.TestCase):
    def test_only_a_time_out_after_every_test_passed_is_a_hang_and_a_missing_program_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            junit, log = os.path.join(folder, "s.xml"), os.path.join(folder, "s.log")
            with open(junit, "w") as f:
                f.write(JUNIT)
            with open(log, "w") as f:
                f.write(LOG)
            passed, failed, skipped, hung = ctest_tally.tally(junit, log)
            self.assertEqual(passed, 1)
            # "PASSED 0" with a FAILED line, fewer passed than ran, or no
            # count of what ran: a time-out there is a failure, never rerun.
            self.assertEqual(sorted(failed), ["A.Fails", "A.FailsThenHangs", "A.Missing", "A.PassedWithoutARun",
                                              "A.PassesFewerThanRan", "A.TimesOutFailing"])
            self.assertEqual(skipped, 1)
            self.assertEqual(hung, ["A.HangsAfterPassing"])
            # No JUnit file: ctest did not run, which is a failure.
            self.assertEqual(ctest_tally.tally(os.path.join(folder, "none.xml"), log), (0, ["ctest"], 0, []))


if __name__ == "__main__":
    unittest.main()
