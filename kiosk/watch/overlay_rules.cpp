#include "kiosk/watch/overlay_rules.h"

#include "kiosk/ascii_case.h"

#include <algorithm>
#include <string_view>

namespace {

ScreenRect Meet(const ScreenRect& a, const ScreenRect& b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

long long Across(const ScreenRect& r)
{
    return static_cast<long long>(r.right) - r.left;
}

long long Down(const ScreenRect& r)
{
    return static_cast<long long>(r.bottom) - r.top;
}

long long AreaOnScreen(const ScreenRect& w, const ScreenRect& screen)
{
    const ScreenRect on = Meet(w, screen);
    return Across(on) > 0 && Down(on) > 0 ? Across(on) * Down(on) : 0;
}

bool BigEnoughOnScreen(const ScreenRect& w, const ScreenRect& screen)
{
    const ScreenRect on = Meet(w, screen);
    return Across(on) >= kOverlayMinSide && Down(on) >= kOverlayMinSide;
}

bool Overlaps(const ScreenRect& a, const ScreenRect& b)
{
    const ScreenRect both = Meet(a, b);
    return Across(both) > 0 && Down(both) > 0;
}

bool Contains(const std::vector<std::uint64_t>& ids, std::uint64_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string_view WithoutTrailingBackslash(std::string_view folder)
{
    while (folder.size() > 1 && folder.back() == '\\')
        folder.remove_suffix(1);
    return folder;
}

// `image` is `folder` + "\" + `rest`, letter case aside.
bool IsIn(std::string_view image, std::string_view folder, std::string_view rest)
{
    folder = WithoutTrailingBackslash(folder);
    return !folder.empty() && image.size() == folder.size() + 1 + rest.size() &&
           StartsWithIgnoringAsciiCase(image, folder) && image[folder.size()] == '\\' &&
           EqualsIgnoringAsciiCase(image.substr(folder.size() + 1), rest);
}

// Directly in `folder` (not in a folder below it, some of which a user may
// write to, such as C:\Windows\Temp).
bool DirectlyIn(std::string_view image, std::string_view folder)
{
    folder = WithoutTrailingBackslash(folder);
    if (folder.empty() || image.size() <= folder.size() + 1 || !StartsWithIgnoringAsciiCase(image, folder) ||
        image[folder.size()] != '\\')
        return false;
    return image.substr(folder.size() + 1).find('\\') == std::string_view::npos;
}

// Everything but the owner and the order: what a look at the window alone tells.
bool LooksLikeOverlay(const TopWindowFacts& w, const ScreenRect& screen)
{
    return w.visible && !w.cloaked && !w.inFront && BigEnoughOnScreen(w.rect, screen);
}

bool IsExamsWindow(const TopWindowFacts& w)
{
    return w.visible && !w.cloaked && !w.owner.ownProcess && BelongsToExam(w.owner);
}

}  // namespace

bool OverlayNeedsOwnerLookup(const TopWindowFacts& window, const ScreenRect& screen)
{
    return window.visible && !window.cloaked && BigEnoughOnScreen(window.rect, screen) &&
           OwnerLookupNeeded(window.owner);
}

bool IsSystemsOwnWindow(const TopWindowFacts& w, const SystemPlaces& places)
{
    if (!w.owner.image)
        return false;
    const std::string_view image = *w.owner.image;
    const std::string& c = w.className;
    if (c == "Shell_TrayWnd" || c == "Shell_SecondaryTrayWnd")
        return IsIn(image, places.windows, "explorer.exe") || IsIn(image, places.system, "explorer.exe");
    if (c == "OSKMainClass")
        return IsIn(image, places.system, "osk.exe");
    if (c == "IPTip_Main_Window")
        return IsIn(image, places.commonFiles, "microsoft shared\\ink\\TabTip.exe");
    if (c == "tooltips_class32" || c == "#32768" || c == "IME" || c == "MSCTFIME UI")
        return DirectlyIn(image, places.windows) || DirectlyIn(image, places.system);
    return false;
}

bool IsOverlayWindow(const TopWindowFacts& window, const ScreenRect& screen, const ScreenRect& examWindow,
                     const SystemPlaces& places)
{
    return LooksLikeOverlay(window, screen) && Overlaps(Meet(window.rect, screen), examWindow) &&
           !BelongsToExam(window.owner) && !IsSystemsOwnWindow(window, places);
}

std::optional<std::size_t> ExamWindowIndex(const std::vector<TopWindowFacts>& frontToBack, const ScreenRect& screen)
{
    std::optional<std::size_t> found;
    long long largest = 0;
    for (std::size_t i = 0; i < frontToBack.size(); ++i) {
        const TopWindowFacts& w = frontToBack[i];
        const long long area = AreaOnScreen(w.rect, screen);
        if (IsExamsWindow(w) && area > largest) {
            largest = area;
            found = i;
        }
    }
    return found;
}

std::vector<std::size_t> WindowsOverExam(const std::vector<TopWindowFacts>& frontToBack, const ScreenRect& screen,
                                         const SystemPlaces& places)
{
    const std::optional<std::size_t> exam = ExamWindowIndex(frontToBack, screen);
    const std::size_t end = exam ? *exam : frontToBack.size();
    const ScreenRect examRect = exam ? Meet(frontToBack[*exam].rect, screen) : screen;
    std::vector<std::size_t> over;
    for (std::size_t i = 0; i < end; ++i) {
        const TopWindowFacts& w = frontToBack[i];
        if ((exam || w.topmost) && IsOverlayWindow(w, screen, examRect, places))
            over.push_back(i);
    }
    return over;
}

OverlayTally TallyOverlays(const std::vector<std::uint64_t>& reported, const std::vector<std::uint64_t>& seen,
                           const std::vector<std::uint64_t>& existing, const std::vector<std::uint64_t>& overlays)
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
        if (Contains(seen, id)) {
            tally.toReport.push_back(id);
            tally.reported.push_back(id);
        } else if (!Contains(tally.seen, id)) {
            tally.seen.push_back(id);
        }
    }
    return tally;
}
