#include "kiosk/watch/pc.h"

#include "kiosk/exam.h"
#include "kiosk/violation_report.h"
#include "kiosk/watch/freeze.h"
#include "kiosk/watch/pc_rules.h"
#include "net/events.h"

#include <wtsapi32.h>

namespace {

// Screens counted last during this exam; 1 at the launch.
int g_lastScreenCount = 1;
// The end of the session has been reported in this exam.
bool g_sessionEndReported = false;
// When WM_ENDSESSION said the session ends (GetTickCount64); 0: not told.
std::uint64_t g_sessionEndedAt = 0;

// Windows gives a program about 5 s once it has agreed to end.
constexpr DWORD kReportsAtSessionEndWaitMs = 5000;

void CountScreens()
{
    const int count = GetSystemMetrics(SM_CMONITORS);
    // A report of its own, apart from the watch's spacing: a screen is
    // plugged in once, not every second.
    if (MoreScreensToReport(g_lastScreenCount, count))
        ReportViolation(ViolationKind::MoreScreens);
    g_lastScreenCount = count;
}

void ReportSessionEnding(HWND window)
{
    if (g_sessionEndReported)
        return;
    g_sessionEndReported = true;
    ReportViolation(ViolationKind::SessionEnding);
    // Shown by Windows while the report is on its way.
    ShutdownBlockReasonCreate(window, L"Mengirim laporan ujian...");
}

}  // namespace

void RegisterSessionNotices(HWND window)
{
    WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
}

void UnregisterSessionNotices(HWND window)
{
    WTSUnRegisterSessionNotification(window);
}

void StartPcWatch()
{
    g_lastScreenCount = 1;
    g_sessionEndReported = false;
    g_sessionEndedAt = 0;
    CountScreens();
}

void OnDisplayChange()
{
    if (g_examActive.load())
        CountScreens();
}

void OnSessionChange(WPARAM code)
{
    if (g_examActive.load() && SessionChangeLeavesExam(static_cast<std::uint32_t>(code)))
        ReportViolation(ViolationKind::SessionLeft);
}

LRESULT OnQueryEndSession(HWND window)
{
    if (g_examActive.load())
        ReportSessionEnding(window);
    return TRUE;
}

void OnEndSession(HWND window, bool ending)
{
    if (ending && g_examActive.load()) {
        ReportSessionEnding(window);  // should a query not have come first
        WaitForQueuedReports(kReportsAtSessionEndWaitMs);
        // Held here on purpose: no freeze to report.
        StartFreezeWatch();
        // The exam stays as it is: any program can send this message, and
        // when the session really ends Windows ends this program itself (the
        // browser goes with its job).
        if (g_sessionEndedAt == 0)
            g_sessionEndedAt = GetTickCount64();
    }
    ShutdownBlockReasonDestroy(window);
}

void CheckSessionEnd()
{
    if (!SessionEndWasForged(g_sessionEndedAt, GetTickCount64()))
        return;
    g_sessionEndedAt = 0;
    // A real end of the session later is reported again.
    g_sessionEndReported = false;
    ReportViolation(ViolationKind::ForgedSessionEnd);
}
