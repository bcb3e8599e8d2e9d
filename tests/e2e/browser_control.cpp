#include "browser_control.h"

#include "driver.h"

#include <shlobj.h>

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

void RemoveAll()
{
    for (int c = kEdgeX86; c <= kChromeX86; ++c) {
        const wchar_t* path = PathOf(static_cast<Candidate>(c));
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path);
        else
            driver::WaitFor([&] { return DeleteFileW(path) != 0; }, 5000);  // a stand-in may still be closing
    }
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

std::wstring ExpectedProfileFolder()
{
    wchar_t temp[260] = {};
    GetTempPathW(260, temp);
    return std::wstring(temp) + L"cbt_orvel_profile";
}

}  // namespace browser
