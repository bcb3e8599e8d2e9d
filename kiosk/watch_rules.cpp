#include "kiosk/watch_rules.h"

#include "kiosk/ascii_case.h"
#include "kiosk/browser_paths.h"

namespace {

bool OfAnotherProcess(const ForegroundFacts& f)
{
    return f.browserPid != 0 && f.ownerPid != f.browserPid;
}

}  // namespace

bool NeedsOwnerLookup(const ForegroundFacts& f)
{
    return f.exists && !f.isLauncherWindow && OfAnotherProcess(f) && f.className == kBrowserWindowClass;
}

bool IsForeignWindow(const ForegroundFacts& f)
{
    if (!f.exists || f.isLauncherWindow)
        return false;
    if (!OfAnotherProcess(f))
        return false;
    if (f.className == kDialogClass)
        return false;
    if (f.className == kBrowserWindowClass) {
        // Many programs are built on the browsers' engine and share its window
        // class, a normal browser window (Edge often runs in the background)
        // among them: only the processes of the exam's job are the exam's.
        if (f.examJob)
            return f.ownerInExamJob != true;
        // Without a job, a browser from the install paths is taken for the
        // exam's; a path that cannot be read gets the benefit of the doubt.
        return f.ownerImage && !IsBrowserImagePath(*f.ownerImage);
    }
    return true;
}

bool IsBrowserImagePath(std::string_view path)
{
    for (const char* candidate : kBrowserPaths)
        if (EqualsIgnoringAsciiCase(path, candidate))
            return true;
    return false;
}

bool ViolationSpacingElapsed(std::uint32_t nowTick, std::uint32_t lastTick)
{
    return static_cast<std::uint32_t>(nowTick - lastTick) > 5000u;
}

std::uint64_t FrozenSeconds(std::uint64_t previousTickMs, std::uint64_t nowMs)
{
    if (nowMs <= previousTickMs || nowMs - previousTickMs <= 5000u)
        return 0;
    return (nowMs - previousTickMs) / 1000u;
}
