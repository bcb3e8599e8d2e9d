#include "kiosk/watch/foreground.h"

#include "app/globals.h"
#include "kiosk/exam.h"
#include "kiosk/lockdown/input_hooks.h"
#include "kiosk/proctor_commands.h"
#include "kiosk/violation_report.h"
#include "kiosk/watch/clipboard.h"
#include "kiosk/watch/foreground_rules.h"
#include "kiosk/watch/freeze.h"
#include "kiosk/watch/overlay.h"
#include "kiosk/watch/owner.h"
#include "kiosk/watch/pc.h"
#include "net/text.h"

#include <string>

namespace {

bool BrowserHasExited()
{
    if (!g_browserProc.hProcess)
        return false;
    DWORD code = STILL_ACTIVE;
    // A failed query counts as still running.
    const bool firstExited = GetExitCodeProcess(g_browserProc.hProcess, &code) && code != STILL_ACTIVE;
    return BrowserHasEnded(g_hBrowserJob != nullptr, ProcessesInJob(g_hBrowserJob), firstExited);
}

ForegroundFacts ReadForeground()
{
    ForegroundFacts facts;
    HWND front = GetForegroundWindow();
    facts.exists = front != nullptr;
    if (!front)
        return facts;
    facts.isLauncherWindow = front == g_hBarWnd || front == g_hMainWnd;
    facts.isSystemDesktop = front == GetDesktopWindow();
    facts.owner = OwnerOfWindow(front);
    wchar_t cls[128] = {};
    GetClassNameW(front, cls, 127);
    facts.className = ToUtf8(cls);
    if (NeedsOwnerLookup(facts)) {
        LookUpOwner(facts.owner);
        facts.systemFolder = SystemFolder();
    }
    return facts;
}

}  // namespace

void OnWatchTick()
{
    if (!g_examActive.load())
        return;
    CheckForFreeze();
    CheckSessionEnd();
    CheckStartClipboard();
    if (BrowserHasExited()) {
        // Closed with the browser's own keys or crashed: the proctor hears of
        // it; the student sees the start screen come back, no message.
        ReportViolation(ViolationKind::BrowserClosed);
        StopExamAndRestore();
        return;
    }
    RefreshExamHooks();
    if (g_hBarWnd)
        SetWindowPos(g_hBarWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    KeepProctorWindowsInPlace();
    ReportWindowsOnTop();
    if (IsForeignWindow(ReadForeground()))
        ReportViolationSpaced(ViolationKind::SwitchedAway, g_lastViolationTick);
}
