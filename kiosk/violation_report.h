// Counting a violation of the running exam and reporting it to the proctor.
#pragma once

#include "kiosk/violation_report_rules.h"

#include <windows.h>

#include <functional>
#include <string>

// Adds one to g_violationCount and queues its "VIOLATION" report. Leaves the
// watch's spacing alone: the watch keeps that for the windows it sees. GUI
// thread only.
void ReportViolation(ViolationKind kind);

// The same, at most once per 5 s on the clock `lastTick` (a GetTickCount
// value, 0 at the launch): nothing when the last report on it is not older;
// otherwise the clock moves to now.
void ReportViolationSpaced(ViolationKind kind, DWORD& lastTick);

// The same as ReportViolation for time the program was not running during
// the exam.
void ReportFrozen(std::uint64_t seconds);

// The body of the report of a stopped window thread, for the sender
// (WatchWindowThread): the student's identity as it is now, the number the
// next of the exam's count when the sender makes it.
std::function<std::string()> StallReportMaker();
