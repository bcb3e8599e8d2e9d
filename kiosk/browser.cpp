#include "kiosk/browser.h"

#include "kiosk/browser_paths.h"
#include "kiosk/watch/owner.h"
#include "net/text.h"

namespace {

// How long the end of an exam waits for the browser's processes to be gone,
// so that its profile folder can go with them.
constexpr DWORD kBrowserGoneWaitMs = 3000;

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

std::wstring FindBrowserExe()
{
    for (const char* path : kBrowserPaths) {
        std::wstring wide = ToWide(path);
        if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES)
            return wide;
    }
    return {};
}

bool StartBrowserInJob(std::wstring commandLine, PROCESS_INFORMATION& process, HANDLE& job)
{
    process = PROCESS_INFORMATION{};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Suspended until it is in its job, so that nothing it starts escapes.
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process)) {
        process = PROCESS_INFORMATION{};
        return false;
    }
    job = PutInKillOnCloseJob(process.hProcess);  // without it the exam goes on
    ResumeThread(process.hThread);
    return true;
}

void TerminateBrowser(PROCESS_INFORMATION& process, HANDLE& job)
{
    if (job) {
        // Ends whatever the browser started too.
        TerminateJobObject(job, 0);
        WaitUntilJobIsEmpty(job);
        CloseHandle(job);
        job = nullptr;
    }
    if (!process.hProcess)
        return;
    // A browser that has already exited is handled the same way.
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, kBrowserGoneWaitMs);
    CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    process = PROCESS_INFORMATION{};
}
