#include "kiosk/overlay_rules.h"

#include <algorithm>
#include <string_view>

namespace {

// The system's own windows that sit above every program without being one.
constexpr std::string_view kSystemClasses[] = {
    "Shell_TrayWnd",           // the taskbar
    "Shell_SecondaryTrayWnd",  // the taskbar on another screen
    "tooltips_class32",        // tooltips
    "#32768",                  // menus
    "IME",                     // the input method's own window
    "MSCTFIME UI",             // text input: candidate and composition windows
    "OSKMainClass",            // the on-screen keyboard (osk.exe)
    "IPTip_Main_Window",       // the touch keyboard
};

bool IsSystemClass(const std::string& name)
{
    return std::find(std::begin(kSystemClasses), std::end(kSystemClasses), name) != std::end(kSystemClasses);
}

bool BigEnoughOnScreen(const ScreenRect& w, const ScreenRect& screen)
{
    const long long across = static_cast<long long>(std::min(w.right, screen.right)) - std::max(w.left, screen.left);
    const long long down = static_cast<long long>(std::min(w.bottom, screen.bottom)) - std::max(w.top, screen.top);
    return across >= kOverlayMinSide && down >= kOverlayMinSide;
}

bool Contains(const std::vector<std::uint64_t>& ids, std::uint64_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Everything but the owner: what a look at the window alone tells.
bool LooksLikeOverlay(const TopWindowFacts& w, const ScreenRect& screen)
{
    return w.visible && w.topmost && !w.cloaked && BigEnoughOnScreen(w.rect, screen) && !IsSystemClass(w.className);
}

}  // namespace

bool OverlayNeedsOwnerLookup(const TopWindowFacts& window, const ScreenRect& screen)
{
    return LooksLikeOverlay(window, screen) && OwnerLookupNeeded(window.owner);
}

bool IsOverlayWindow(const TopWindowFacts& window, const ScreenRect& screen)
{
    return LooksLikeOverlay(window, screen) && !BelongsToExam(window.owner);
}

OverlayTally TallyOverlays(const std::vector<std::uint64_t>& reported, const std::vector<std::uint64_t>& existing,
                           const std::vector<std::uint64_t>& overlays)
{
    OverlayTally tally;
    // A window that is gone is forgotten: a new one (which may even get its
    // number again) is a new report.
    for (const std::uint64_t id : reported)
        if (Contains(existing, id) && !Contains(tally.reported, id))
            tally.reported.push_back(id);
    for (const std::uint64_t id : overlays) {
        if (Contains(tally.reported, id))
            continue;
        tally.toReport.push_back(id);
        tally.reported.push_back(id);
    }
    return tally;
}
