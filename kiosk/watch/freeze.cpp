#include "kiosk/watch/freeze.h"

#include "kiosk/violation_report.h"
#include "kiosk/watch/foreground_rules.h"
#include "net/events.h"

#include <windows.h>

#include <cstdint>

namespace {

// GUI thread only. 64-bit ticks: no wrap to mistake for a gap.
std::uint64_t g_previousTickMs = 0;

}  // namespace

void StartFreezeWatch()
{
    g_previousTickMs = GetTickCount64();
    StampWatchTick(g_previousTickMs);
}

void CheckForFreeze()
{
    const std::uint64_t now = GetTickCount64();
    const std::uint64_t seconds = FrozenSeconds(g_previousTickMs, now);
    g_previousTickMs = now;
    // A gap the sender saw and reported while this thread stood still is
    // one stall, reported once.
    const bool reportedBySender = StampWatchTick(now);
    if (seconds > 0 && !reportedBySender)
        ReportFrozen(seconds);
}
