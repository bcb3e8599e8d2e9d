#!/usr/bin/env python3
"""Counts what one ctest run did, from its JUnit file and its log.

    ctest_tally.py JUNIT LOG

Prints one line "PASSED FAILED SKIPPED", then one line "failed NAME" for each
failed test (a test that could not run is one) and "hung NAME" for each
failed test that ran into its time-out
after GoogleTest had printed "[  PASSED  ]": its tests passed and the process
then did not end. Those are the only ones the test command may run again.
A run that left no JUnit file (ctest did not start, or died) counts as one
failure named "ctest".
"""
import re
import sys
import xml.etree.ElementTree as ET


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
            if name in timed_out and "[  PASSED  ]" in out:
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
