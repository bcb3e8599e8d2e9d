#include "kiosk/freeze_watch.h"

#include "kiosk/violation_report.h"
#include "kiosk/watch_rules.h"

#include <windows.h>

#include <cstdint>

namespace {

// GUI thread only. 64-bit ticks: no wrap to mistake for a gap.
std::uint64_t g_previousTickMs = 0;

}  // namespace

void StartFreezeWatch()
{
    g_previousTickMs = GetTickCount64();
}

void CheckForFreeze()
{
    const std::uint64_t now = GetTickCount64();
    const std::uint64_t seconds = FrozenSeconds(g_previousTickMs, now);
    g_previousTickMs = now;
    if (seconds > 0)
        ReportFrozen(seconds);
}
