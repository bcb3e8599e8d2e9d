#include "kiosk/overlay_watch.h"

#include "kiosk/exam_processes.h"
#include "kiosk/overlay_rules.h"
#include "kiosk/violation_report.h"
#include "net/text.h"

#include <dwmapi.h>

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

// The windows reported in this exam that still existed at the last tick.
std::vector<std::uint64_t> g_reported;

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

TopWindowFacts ReadWindow(HWND window)
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
    facts.topmost = (info.dwExStyle & WS_EX_TOPMOST) != 0;
    // Most windows are neither: the rest of them is never read.
    if (!facts.visible || !facts.topmost)
        return facts;
    DWORD cloaked = 0;
    // Fails where the system has no such notion (Wine): not cloaked.
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
}

void ReportWindowsOnTop()
{
    const ScreenRect desktop = Desktop();
    std::vector<std::uint64_t> existing, overlays;
    // Each process is looked up once a tick, however many windows it shows.
    std::unordered_map<std::uint32_t, OwnerFacts> owners;
    for (HWND window : TopLevelWindows()) {
        const std::uint64_t id = IdOf(window);
        existing.push_back(id);
        // Reported already: it stays reported for as long as it exists.
        if (std::find(g_reported.begin(), g_reported.end(), id) != g_reported.end())
            continue;
        TopWindowFacts facts = ReadWindow(window);
        if (OverlayNeedsOwnerLookup(facts, desktop)) {
            const auto known = owners.find(facts.owner.pid);
            if (known != owners.end()) {
                facts.owner = known->second;
            } else {
                LookUpOwner(facts.owner);
                owners.emplace(facts.owner.pid, facts.owner);
            }
        }
        if (IsOverlayWindow(facts, desktop))
            overlays.push_back(id);
    }
    OverlayTally tally = TallyOverlays(g_reported, existing, overlays);
    g_reported = std::move(tally.reported);
    for (std::size_t i = 0; i < tally.toReport.size(); ++i)
        ReportViolation(ViolationKind::WindowOnTop);
}
