#include "kiosk/browser.h"

#include "app/globals.h"
#include "kiosk/browser_paths.h"
#include "kiosk/clipboard_watch.h"
#include "kiosk/command_line.h"
#include "kiosk/control_bar.h"
#include "kiosk/exam_profile.h"
#include "kiosk/freeze_watch.h"
#include "kiosk/input_hooks.h"
#include "kiosk/overlay_watch.h"
#include "kiosk/pc_watch.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/session.h"
#include "kiosk/violation_report.h"
#include "net/events.h"
#include "net/text.h"

#include <utility>

namespace {

// A job that ends the browser, and all it starts, once its last handle
// closes: when TerminateBrowser closes it, or when this program ends however
// it ends. The browser's own helpers that ask to leave the job may. Null when
// the system will not (an old Windows, or this program in a job that allows
// no other).
HANDLE PutInKillOnCloseJob(HANDLE process)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
        !AssignProcessToJobObject(job, process)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

std::wstring FindBrowserExe()
{
    for (const char* path : kBrowserPaths) {
        std::wstring wide = ToWide(path);
        if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES)
            return wide;
    }
    return {};
}

void StartExamInKiosk()
{
    // Belongs to this launch only: an exam that does not start forgets it.
    const std::string session = std::exchange(g_examSession, std::string());
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
    std::wstring commandLine = ToWide(BuildKioskCommandLine(ToUtf8(browser), g_formUrl, ToUtf8(profile)));

    g_browserProc = PROCESS_INFORMATION{};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Suspended until it is in its job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &g_browserProc)) {
        g_browserProc = PROCESS_INFORMATION{};
        RemoveExamProfile();
        MessageBoxW(g_hMainWnd, kTextBrowserFailed, kCaptionError, MB_ICONERROR);
        return;
    }
    g_hBrowserJob = PutInKillOnCloseJob(g_browserProc.hProcess);  // without it the exam goes on
    ResumeThread(g_browserProc.hThread);

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
    BeginExamPresence(session);
    WatchWindowThread(StallReportMaker());
    StartFreezeWatch();
    SendExamEventAsync("START", kEventStartDetail);
    StartPcWatch();
}
