// Counting a violation of the running exam and reporting it to the proctor.
#pragma once

#include "kiosk/violation_rules.h"

// Adds one to g_violationCount and queues its "VIOLATION" report. Leaves the
// watch's spacing alone: the watch keeps that for the windows it sees. GUI
// thread only.
void ReportViolation(ViolationKind kind);
