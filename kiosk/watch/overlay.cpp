#include "kiosk/watch/overlay.h"

#include "kiosk/violation_report.h"
#include "kiosk/watch/overlay_rules.h"
#include "kiosk/watch/owner.h"
#include "net/text.h"

#include <dwmapi.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// The windows reported in this exam that still existed at the last tick, and
// those that counted at the last tick for the first time.
std::vector<std::uint64_t> g_reported;
std::vector<std::uint64_t> g_seen;

std::uint64_t IdOf(HWND window)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(window));
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every top-level window, any process, in the system's order.
std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

ScreenRect Desktop()
{
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::string Folder(UINT (WINAPI *read)(LPWSTR, UINT))
{
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = read(folder, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::string() : ToUtf8(std::wstring(folder, length));
}

// Read once: they do not move while the program runs.
const SystemPlaces& Places()
{
    static const SystemPlaces places = [] {
        SystemPlaces p;
        // The system's own, not a user's private Windows folder of a
        // terminal server.
        p.windows = Folder(GetSystemWindowsDirectoryW);
        p.system = Folder(GetSystemDirectoryW);
        wchar_t common[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, common)))
            p.commonFiles = ToUtf8(common);
        return p;
    }();
    return places;
}

TopWindowFacts ReadWindow(HWND window, HWND front)
{
    TopWindowFacts facts;
    // One question for the style, the extended style and the rectangle (a
    // top-level window has no parent to hide it: its own style says whether
    // it shows).
    WINDOWINFO info{};
    info.cbSize = sizeof(info);
    if (!GetWindowInfo(window, &info))
        return facts;  // gone meanwhile
    facts.visible = (info.dwStyle & WS_VISIBLE) != 0;
    // Most windows are hidden: the rest of them is never read.
    if (!facts.visible)
        return facts;
    facts.topmost = (info.dwExStyle & WS_EX_TOPMOST) != 0;
    facts.inFront = window == front;
    DWORD cloaked = 0;
    // Fails where the system has no such notion (Windows 7, Wine): not cloaked.
    facts.cloaked = SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) && cloaked;
    facts.rect = {info.rcWindow.left, info.rcWindow.top, info.rcWindow.right, info.rcWindow.bottom};
    wchar_t cls[128] = {};
    GetClassNameW(window, cls, 127);
    facts.className = ToUtf8(cls);
    facts.owner = OwnerOfWindow(window);
    return facts;
}

}  // namespace

void StartOverlayWatch()
{
    g_reported.clear();
    g_seen.clear();
}

void ReportWindowsOnTop()
{
    const ScreenRect desktop = Desktop();
    const HWND front = GetForegroundWindow();
    const std::vector<HWND> windows = TopLevelWindows();
    std::vector<std::uint64_t> existing;
    std::vector<TopWindowFacts> facts;
    existing.reserve(windows.size());
    facts.reserve(windows.size());
    // Each process is looked up once a tick, however many windows it shows.
    std::unordered_map<std::uint32_t, OwnerFacts> owners;
    for (HWND window : windows) {
        existing.push_back(IdOf(window));
        TopWindowFacts f = ReadWindow(window, front);
        if (OverlayNeedsOwnerLookup(f, desktop)) {
            const auto known = owners.find(f.owner.pid);
            if (known != owners.end()) {
                f.owner = known->second;
            } else {
                LookUpOwner(f.owner);
                owners.emplace(f.owner.pid, f.owner);
            }
        }
        facts.push_back(std::move(f));
    }
    std::vector<std::uint64_t> overlays;
    for (const std::size_t i : WindowsOverExam(facts, desktop, Places()))
        overlays.push_back(existing[i]);
    OverlayTally tally = TallyOverlays(g_reported, g_seen, existing, overlays);
    g_reported = std::move(tally.reported);
    g_seen = std::move(tally.seen);
    for (std::size_t i = 0; i < tally.toReport.size(); ++i)
        ReportViolation(ViolationKind::WindowOnTop);
}
