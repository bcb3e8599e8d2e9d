#include "kiosk/violation_report.h"

#include "app/globals.h"
#include "kiosk/watch_rules.h"
#include "net/events.h"

void ReportViolation(ViolationKind kind)
{
    ++g_violationCount;
    SendExamEventAsync("VIOLATION", ViolationDetail(kind, g_violationCount));
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
    ++g_violationCount;
    SendExamEventAsync("VIOLATION", FrozenDetail(seconds, g_violationCount));
}
