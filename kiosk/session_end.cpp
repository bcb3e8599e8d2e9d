#include "kiosk/session.h"

#include "app/globals.h"
#include "kiosk/keyboard_hook.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/mouse_hook.h"
#include "kiosk/violation_report.h"
#include "net/events.h"

void TerminateBrowser()
{
    if (g_hBrowserJob) {
        // Ends whatever the browser started too.
        TerminateJobObject(g_hBrowserJob, 0);
        CloseHandle(g_hBrowserJob);
        g_hBrowserJob = nullptr;
    }
    if (!g_browserProc.hProcess)
        return;
    // A browser that has already exited is handled the same way.
    TerminateProcess(g_browserProc.hProcess, 0);
    CloseHandle(g_browserProc.hProcess);
    if (g_browserProc.hThread)
        CloseHandle(g_browserProc.hThread);
    g_browserProc = PROCESS_INFORMATION{};
}

void StopExamAndRestore()
{
    // First, so that the hook and the watch stand down at once.
    g_examActive.exchange(false);
    EndExamPresence();
    KillTimer(g_hMainWnd, kWatchTimerId);
    RemoveKioskHook();
    RemoveMouseHook();
    TerminateBrowser();
    if (g_hBarWnd) {
        DestroyWindow(g_hBarWnd);
        g_hBarWnd = nullptr;
    }
    ShowWindow(g_hMainWnd, SW_SHOW);
    SetForegroundWindow(g_hMainWnd);
}

void EndExamByProctor()
{
    SendExamEventAsync("FINISH", kEventProctorFinishDetail);
    StopExamAndRestore();
}

void EndExamAsProgramCloses()
{
    if (g_examActive.load())
        ReportViolation(ViolationKind::AppClosed);
    StopExamAndRestore();
}
