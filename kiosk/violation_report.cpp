#include "kiosk/violation_report.h"

#include "kiosk/exam.h"
#include "kiosk/watch/foreground_rules.h"
#include "net/events.h"
#include "net/exam_protocol.h"

void ReportViolation(ViolationKind kind)
{
    const int count = ++g_violationCount;
    SendExamEventAsync("VIOLATION", ViolationDetail(kind, count));
}

void ReportViolationSpaced(ViolationKind kind, DWORD& lastTick)
{
    const DWORD now = GetTickCount();
    if (!ViolationSpacingElapsed(now, lastTick))
        return;
    lastTick = now;
    ReportViolation(kind);
}

void ReportFrozen(std::uint64_t seconds)
{
    const int count = ++g_violationCount;
    SendExamEventAsync("VIOLATION", FrozenDetail(seconds, count));
}

std::function<std::string()> StallReportMaker()
{
    // Copied now, on the window thread: the sender makes the report alone.
    return [name = g_studentName, className = g_className, token = g_token] {
        return BuildEventBody(name, className, token, "VIOLATION", ViolationDetail(ViolationKind::Stalled, ++g_violationCount));
    };
}
