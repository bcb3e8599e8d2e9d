#include "kiosk/watch/owner.h"

#include "kiosk/exam.h"
#include "net/text.h"

OwnerFacts OwnerOfWindow(HWND window)
{
    OwnerFacts owner;
    owner.browserPid = g_browserProc.dwProcessId;
    owner.examJob = g_hBrowserJob != nullptr;
    if (!window)
        return owner;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    owner.pid = pid;
    owner.ownProcess = pid == GetCurrentProcessId();
    return owner;
}

void LookUpOwner(OwnerFacts& owner)
{
    // IsProcessInJob wants PROCESS_QUERY_INFORMATION on some systems (Wine
    // refuses the limited right with "access denied"); a process of a higher
    // integrity level grants only the limited right, which still gives the
    // executable.
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, owner.pid);
    if (!process)
        process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner.pid);
    if (!process)
        return;
    if (owner.examJob && g_hBrowserJob) {
        BOOL inJob = FALSE;
        if (IsProcessInJob(process, g_hBrowserJob, &inJob))
            owner.inExamJob = inJob != FALSE;
    }
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(process, 0, path, &size))
        owner.image = ToUtf8(std::wstring(path, size));
    CloseHandle(process);
}

std::string SystemFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    return ToUtf8(std::wstring(folder, length));
}

std::optional<std::uint32_t> ProcessesInJob(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!job || !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                           nullptr))
        return std::nullopt;
    return static_cast<std::uint32_t>(accounting.ActiveProcesses);
}
