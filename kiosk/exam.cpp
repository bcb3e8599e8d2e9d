#include "kiosk/exam.h"

#include "app/globals.h"
#include "kiosk/browser.h"
#include "kiosk/command_line.h"
#include "kiosk/control_bar.h"
#include "kiosk/exam_profile.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/lockdown/input_hooks.h"
#include "kiosk/proctor_commands.h"
#include "kiosk/violation_report.h"
#include "kiosk/watch/clipboard.h"
#include "kiosk/watch/freeze.h"
#include "kiosk/watch/overlay.h"
#include "kiosk/watch/pc.h"
#include "net/events.h"
#include "net/text.h"

#include <utility>

PROCESS_INFORMATION g_browserProc = {};
HANDLE g_hBrowserJob = nullptr;
std::atomic<bool> g_examActive{false};
std::atomic<int> g_violationCount{0};
DWORD g_lastViolationTick = 0;

std::string g_studentName;
std::string g_className;
std::string g_token;
std::string g_formUrl;
std::string g_examSession;

void StartExamInKiosk()
{
    // Belongs to this launch only: an exam that does not start forgets it.
    std::string session = std::exchange(g_examSession, std::string());
    const std::wstring browser = FindBrowserExe();
    if (browser.empty()) {
        MessageBoxW(g_hMainWnd, kTextNoBrowser, kCaptionError, MB_ICONERROR);
        return;
    }

    const std::wstring profile = CreateExamProfile();
    if (profile.empty()) {
        MessageBoxW(g_hMainWnd, kTextTempFolderUnusable, kCaptionTempFolderUnusable, MB_ICONWARNING);
        return;
    }
    if (!StartBrowserInJob(ToWide(BuildKioskCommandLine(ToUtf8(browser), g_formUrl, ToUtf8(profile))),
                           g_browserProc, g_hBrowserJob)) {
        RemoveExamProfile();
        MessageBoxW(g_hMainWnd, kTextBrowserFailed, kCaptionError, MB_ICONERROR);
        return;
    }

    g_examActive.exchange(true);
    g_violationCount = 0;
    g_lastViolationTick = 0;
    BeginExamClipboard();
    StartOverlayWatch();
    InstallExamHooks();  // a failed hook leaves the exam unlocked but running
    ShowWindow(g_hMainWnd, SW_HIDE);
    g_hBarWnd = CreateControlBar();
    const bool watching = SetTimer(g_hMainWnd, kWatchTimerId, kWatchTimerMs, nullptr) != 0;
    if (!g_hBarWnd || !watching) {
        // Without the bar nobody could finish; without the watch a closed
        // browser would leave the PC locked. Take the half-made exam down.
        StopExamAndRestore();
        MessageBoxW(g_hMainWnd, kTextBrowserFailed, kCaptionError, MB_ICONERROR);
        return;
    }
    // The sender's own copies: it never reads the strings above.
    BeginExamPresence({g_studentName, g_className, g_token, std::move(session), g_hMainWnd});
    WatchWindowThread(StallReportMaker());
    StartFreezeWatch();
    SendExamEventAsync("START", kEventStartDetail);
    StartPcWatch();
}

void StopExamAndRestore()
{
    // First, so that the hook and the watch stand down at once.
    const bool wasRunning = g_examActive.exchange(false);
    EndExamPresence();
    KillTimer(g_hMainWnd, kWatchTimerId);
    RemoveExamHooks();
    TerminateBrowser(g_browserProc, g_hBrowserJob);
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
