#include "process_census.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

extern "C" LONG NTAPI NtQuerySystemInformation(ULONG infoClass, PVOID info, ULONG length, PULONG returned);

namespace census {

namespace {

constexpr ULONG kSystemHandleInformation = 16;

std::size_t CountHandles(DWORD pid)
{
    std::vector<unsigned char> buffer(1 << 20);
    ULONG returned = 0;
    for (;;) {
        const LONG status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &returned);
        if (status == 0)
            break;
        if (buffer.size() >= (64u << 20))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    // A count, then entries that begin with the owner's process id; their size
    // follows from the length returned.
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    if (count == 0)
        return 0;
    const std::size_t header = sizeof(void*);
    const std::size_t entry = (returned - header) / count;
    std::size_t n = 0;
    for (ULONG i = 0; i < count; ++i) {
        ULONG owner = 0;
        memcpy(&owner, buffer.data() + header + i * entry, sizeof(owner));
        n += owner == pid;
    }
    return n;
}

struct WindowCount {
    DWORD pid;
    std::size_t n;
};

BOOL CALLBACK CountChild(HWND, LPARAM param)
{
    ++reinterpret_cast<WindowCount*>(param)->n;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND window, LPARAM param)
{
    auto* count = reinterpret_cast<WindowCount*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == count->pid) {
        ++count->n;
        EnumChildWindows(window, CountChild, param);
    }
    return TRUE;
}

std::size_t CountThreads(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    std::size_t n = 0;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == pid;
    CloseHandle(snapshot);
    return n;
}

}  // namespace

Census Take(DWORD pid)
{
    Census c;
    c.handles = CountHandles(pid);
    WindowCount windows{pid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&windows));
    c.windows = windows.n;
    c.threads = CountThreads(pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process) {
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof(memory);
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory))) {
            // Wine leaves PrivateUsage at 0; PagefileUsage is the same figure.
            c.committedBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
            c.workingSetBytes = memory.WorkingSetSize;
        }
        CloseHandle(process);
    }
    return c;
}

std::string Census::Describe() const
{
    char text[200];
    snprintf(text, sizeof(text), "%zu handles, %zu windows, %zu threads, %.2f MiB committed, %.2f MiB working set",
             handles, windows, threads, committedBytes / 1048576.0, workingSetBytes / 1048576.0);
    return text;
}

int ProcessesNamed(const wchar_t* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int n = 0;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        n += _wcsicmp(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return n;
}

}  // namespace census
