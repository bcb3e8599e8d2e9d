// Counting a violation of the running exam and reporting it to the proctor.
#pragma once

#include "kiosk/violation_rules.h"

// Adds one to g_violationCount and queues its "VIOLATION" report. Leaves the
// watch's spacing alone: the watch keeps that for the windows it sees. GUI
// thread only.
void ReportViolation(ViolationKind kind);

// The same for time the program was not running during the exam.
void ReportFrozen(std::uint64_t seconds);
