#include "kiosk/foreground_watch.h"

#include "app/globals.h"
#include "kiosk/freeze_watch.h"
#include "kiosk/keyboard_hook.h"
#include "kiosk/mouse_hook.h"
#include "kiosk/session.h"
#include "kiosk/violation_report.h"
#include "kiosk/watch_rules.h"
#include "net/text.h"

#include <optional>
#include <string>

namespace {

bool BrowserHasExited()
{
    if (!g_browserProc.hProcess)
        return false;
    DWORD code = STILL_ACTIVE;
    // A failed query counts as still running.
    return GetExitCodeProcess(g_browserProc.hProcess, &code) && code != STILL_ACTIVE;
}

std::optional<std::string> ImageOfProcess(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return std::nullopt;
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const bool ok = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
    CloseHandle(process);
    if (!ok)
        return std::nullopt;
    return ToUtf8(std::wstring(path, size));
}

// Whether the process is in the exam's job; nullopt when that cannot be told.
std::optional<bool> InExamJob(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return std::nullopt;
    BOOL inJob = FALSE;
    const bool ok = IsProcessInJob(process, g_hBrowserJob, &inJob) != 0;
    CloseHandle(process);
    if (!ok)
        return std::nullopt;
    return inJob != FALSE;
}

ForegroundFacts ReadForeground()
{
    ForegroundFacts facts;
    HWND front = GetForegroundWindow();
    facts.exists = front != nullptr;
    if (!front)
        return facts;
    facts.isLauncherWindow = front == g_hBarWnd || front == g_hMainWnd;
    facts.browserPid = g_browserProc.dwProcessId;
    DWORD pid = 0;
    GetWindowThreadProcessId(front, &pid);
    facts.ownerPid = pid;
    wchar_t cls[128] = {};
    GetClassNameW(front, cls, 127);
    facts.className = ToUtf8(cls);
    facts.examJob = g_hBrowserJob != nullptr;
    if (NeedsOwnerLookup(facts)) {
        if (facts.examJob)
            facts.ownerInExamJob = InExamJob(pid);
        else
            facts.ownerImage = ImageOfProcess(pid);
    }
    return facts;
}

}  // namespace

void OnWatchTick()
{
    if (!g_examActive.load())
        return;
    CheckForFreeze();
    if (BrowserHasExited()) {
        // Closed with the browser's own keys or crashed: the proctor hears of
        // it; the student sees the start screen come back, no message.
        ReportViolation(ViolationKind::BrowserClosed);
        StopExamAndRestore();
        return;
    }
    RefreshKioskHook();
    RefreshMouseHook();
    if (g_hBarWnd)
        SetWindowPos(g_hBarWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!IsForeignWindow(ReadForeground()))
        return;
    const DWORD now = GetTickCount();
    if (!ViolationSpacingElapsed(now, g_lastViolationTick))
        return;
    g_lastViolationTick = now;
    ReportViolation(ViolationKind::SwitchedAway);
}
