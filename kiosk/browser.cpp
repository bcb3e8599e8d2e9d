#include "kiosk/browser.h"

#include "app/globals.h"
#include "kiosk/command_line.h"
#include "net/events.h"
#include "net/text.h"

namespace {

// Edge before Chrome; for each, the folder where its installer puts it first.
constexpr const wchar_t* kBrowserCandidates[] = {
    L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
    L"C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe",
    L"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
    L"C:\\Program Files (x86)\\Google\\Chrome\\Application\\chrome.exe",
};

std::wstring ProfileFolder()
{
    wchar_t temp[260] = {};
    GetTempPathW(260, temp);
    return std::wstring(temp) + L"cbt_orvel_profile";
}

}  // namespace

std::wstring FindBrowserExe()
{
    for (const wchar_t* path : kBrowserCandidates)
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            return path;
    return {};
}

void StartExamInKiosk()
{
    const std::wstring browser = FindBrowserExe();
    if (browser.empty()) {
        MessageBoxW(g_hMainWnd, L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini.", L"Error",
                    MB_ICONERROR);
        return;
    }

    std::wstring commandLine =
        ToWide(BuildKioskCommandLine(ToUtf8(browser), g_formUrl, ToUtf8(ProfileFolder())));

    g_browserProc = PROCESS_INFORMATION{};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &g_browserProc)) {
        g_browserProc = PROCESS_INFORMATION{};
        MessageBoxW(g_hMainWnd, L"Gagal membuka browser ujian.", L"Error", MB_ICONERROR);
        return;
    }

    g_examActive.exchange(true);
    g_violationCount = 0;
    g_lastViolationTick = 0;
    SendExamEventAsync("START", "Siswa memulai ujian di aplikasi PC.");
}
