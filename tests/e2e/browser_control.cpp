#include "browser_control.h"

#include "driver.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>

namespace browser {

namespace {

std::wstring g_recordDir;

std::wstring StandInExe()
{
    return driver::BuildFile(L"tests\\standin\\browser-standin.exe");
}

std::wstring FolderOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L'\\'));
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text)
        out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// Ends the processes running from `path`; names each.
std::string EndProcessesAt(const std::wstring& path)
{
    std::string named;
    const std::wstring file = path.substr(path.find_last_of(L'\\') + 1);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return named;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, file.c_str()) != 0)
            continue;
        HANDLE p = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                               entry.th32ProcessID);
        if (!p)
            continue;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(p, 0, image, &size) && lstrcmpiW(image, path.c_str()) == 0) {
            named += (named.empty() ? "" : ", ") + std::string("process ") + std::to_string(entry.th32ProcessID);
            TerminateProcess(p, 99);
            WaitForSingleObject(p, 5000);
        }
        CloseHandle(p);
    }
    CloseHandle(snapshot);
    return named;
}

}  // namespace

const wchar_t* PathOf(Candidate c)
{
    static const wchar_t* const paths[] = {
        L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
        L"C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe",
        L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
        L"C:\\Program Files (x86)\\Google\\Chrome\\Application\\chrome.exe",
    };
    return paths[c];
}

std::string RemoveAll()
{
    std::string leftOver;
    for (int c = kEdgeX86; c <= kChromeX86; ++c) {
        const wchar_t* path = PathOf(static_cast<Candidate>(c));
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveDirectoryW(path);
            continue;
        }
        // A stand-in may still be closing; one that still runs after the
        // wait was left behind. It is ended, so the next test starts clean.
        if (driver::WaitFor([&] { return DeleteFileW(path) != 0; }, 10000))
            continue;
        const std::string who = EndProcessesAt(path);
        leftOver += (leftOver.empty() ? "" : "; ") + std::string("a stand-in still ran from ") + Narrow(path) +
                    (who.empty() ? " (file still in use)" : " (" + who + ")");
        driver::WaitFor([&] { return DeleteFileW(path) != 0; }, 5000);
    }
    return leftOver;
}

bool PlaceStandIn(Candidate c)
{
    SHCreateDirectoryExW(nullptr, FolderOf(PathOf(c)).c_str(), nullptr);
    return CopyFileW(StandInExe().c_str(), PathOf(c), FALSE) != 0;
}

bool PlaceFolder(Candidate c)
{
    SHCreateDirectoryExW(nullptr, FolderOf(PathOf(c)).c_str(), nullptr);
    return CreateDirectoryW(PathOf(c), nullptr) != 0;
}

void StartRecording()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    g_recordDir = std::wstring(temp) + L"standin-" + std::to_wstring(GetTickCount64());
    CreateDirectoryW(g_recordDir.c_str(), nullptr);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_DIR", g_recordDir.c_str());
}

std::vector<Launch> Launches()
{
    std::vector<Launch> launches;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((g_recordDir + L"\\launch-*.cmdline").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return launches;
    do {
        Launch l;
        l.pid = static_cast<DWORD>(_wtoi(found.cFileName + 7));
        const std::string bytes = driver::ReadFileBytes(g_recordDir + L"\\" + found.cFileName);
        l.commandLine.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        launches.push_back(l);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return launches;
}

std::vector<Launch> WaitForLaunches(std::size_t n, DWORD timeoutMs)
{
    std::vector<Launch> got;
    driver::WaitFor([&] { return (got = Launches()).size() >= n; }, timeoutMs);
    return got;
}

HWND WaitForWindow(DWORD pid, DWORD timeoutMs)
{
    return driver::WaitForTopWindow(pid, L"Chrome_WidgetWin_1", nullptr, timeoutMs);
}

bool IsRunning(DWORD pid)
{
    HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!p)
        return false;
    const bool running = WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
    CloseHandle(p);
    return running;
}

long WaitForExit(DWORD pid, DWORD timeoutMs)
{
    HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p)
        return -1;
    long code = -1;
    if (WaitForSingleObject(p, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(p, &exitCode);
        code = static_cast<long>(exitCode);
    }
    CloseHandle(p);
    return code;
}

std::wstring ProfileFolderOf(const std::wstring& commandLine)
{
    const std::wstring key = L"--user-data-dir=\"";
    const std::size_t at = commandLine.find(key);
    if (at == std::wstring::npos)
        return {};
    const std::size_t from = at + key.size(), to = commandLine.find(L'"', from);
    return to == std::wstring::npos ? std::wstring{} : commandLine.substr(from, to - from);
}

bool IsExamProfileFolder(const std::wstring& folder)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring prefix = std::wstring(temp) + L"cbt_orvel_profile_";
    if (folder.size() != prefix.size() + 16 || folder.compare(0, prefix.size(), prefix) != 0)
        return false;
    return folder.find_first_not_of(L"0123456789abcdef", prefix.size()) == std::wstring::npos;
}

}  // namespace browser
