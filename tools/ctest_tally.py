#!/usr/bin/env python3
"""Counts what one ctest run did, from its JUnit file and its log.

    ctest_tally.py JUNIT LOG

Prints one line "PASSED FAILED SKIPPED", then one line "failed NAME" for each
failed test (a test that could not run is one) and "hung NAME" for each
failed test that ran into its time-out after GoogleTest had printed
"[  PASSED  ] N test(s)." for all N tests that ran, and no "[  FAILED  ]"
line: its tests passed and the process then did not end. Those are the only
ones the test command may run again. (GoogleTest prints "[  PASSED  ] 0 tests."
on a failing run too.)
A run that left no JUnit file (ctest did not start, or died) counts as one
failure named "ctest".
"""
import re
import sys
import xml.etree.ElementTree as ET


RAN = re.compile(r"^\s*\[=+\] (\d+) tests? from \d+ test suites? ran\.", re.M)
PASSED = re.compile(r"^\s*\[  PASSED  \] (\d+) tests?\.", re.M)


def passed_then_hung(out: str) -> bool:
    """True when the output shows every test that ran passed, and none failed."""
    if "[  FAILED  ]" in out:
        return False
    ran, passed = RAN.findall(out), PASSED.findall(out)
    return len(ran) == 1 and len(passed) == 1 and int(ran[0]) > 0 and passed[0] == ran[0]


def tally(junit_path, log_path):
    try:
        root = ET.parse(junit_path).getroot()
    except (OSError, ET.ParseError):
        return 0, ["ctest"], 0, []
    try:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            log = f.read()
    except OSError:
        log = ""
    timed_out = set(re.findall(r"^\s*\d+ - (.+?) \(Timeout\)\s*$", log, re.M))
    passed, failed, skipped, hung = 0, [], 0, []
    for case in root.iter("testcase"):
        name = case.get("name", "?")
        status = case.get("status")
        skip = case.find("skipped")
        # Skipped on purpose: the test said so, or it is disabled. A test that
        # could not run (its program missing) is a failure.
        on_purpose = status == "disabled" or (
            skip is not None and skip.get("message", "").startswith(("SKIP_REGULAR_EXPRESSION", "SKIP_RETURN_CODE")))
        if status == "run":
            passed += 1
        elif on_purpose:
            skipped += 1
        else:
            out = case.findtext("system-out") or ""
            if name in timed_out and passed_then_hung(out):
                hung.append(name)
            else:
                failed.append(name)
    return passed, failed, skipped, hung


def main():
    passed, failed, skipped, hung = tally(sys.argv[1], sys.argv[2])
    print(passed, len(failed) + len(hung), skipped)
    for name in failed:
        print("failed", name)
    for name in hung:
        print("hung", name)


if __name__ == "__main__":
    main()
