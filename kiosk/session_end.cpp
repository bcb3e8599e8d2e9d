#include "kiosk/session.h"

#include "app/globals.h"
#include "kiosk/clipboard_watch.h"
#include "kiosk/exam_processes.h"
#include "kiosk/exam_profile.h"
#include "kiosk/input_hooks.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/proctor_commands.h"
#include "kiosk/violation_report.h"
#include "net/events.h"

namespace {

// How long the end of an exam waits for the browser's processes to be gone,
// so that its profile folder can go with them.
constexpr DWORD kBrowserGoneWaitMs = 3000;

// Polls the job until none of its processes is left, or the time is up.
void WaitUntilJobIsEmpty(HANDLE job)
{
    const ULONGLONG end = GetTickCount64() + kBrowserGoneWaitMs;
    for (;;) {
        const std::optional<std::uint32_t> left = ProcessesInJob(job);
        if (!left || *left == 0 || GetTickCount64() >= end)
            return;
        Sleep(10);
    }
}

}  // namespace

void TerminateBrowser()
{
    if (g_hBrowserJob) {
        // Ends whatever the browser started too.
        TerminateJobObject(g_hBrowserJob, 0);
        WaitUntilJobIsEmpty(g_hBrowserJob);
        CloseHandle(g_hBrowserJob);
        g_hBrowserJob = nullptr;
    }
    if (!g_browserProc.hProcess)
        return;
    // A browser that has already exited is handled the same way.
    TerminateProcess(g_browserProc.hProcess, 0);
    WaitForSingleObject(g_browserProc.hProcess, kBrowserGoneWaitMs);
    CloseHandle(g_browserProc.hProcess);
    if (g_browserProc.hThread)
        CloseHandle(g_browserProc.hThread);
    g_browserProc = PROCESS_INFORMATION{};
}

void StopExamAndRestore()
{
    // First, so that the hook and the watch stand down at once.
    const bool wasRunning = g_examActive.exchange(false);
    EndExamPresence();
    KillTimer(g_hMainWnd, kWatchTimerId);
    RemoveExamHooks();
    TerminateBrowser();
    RemoveExamProfile();
    if (wasRunning)
        EndExamClipboard();
    CloseProctorWindows();
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
