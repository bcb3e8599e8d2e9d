#include "kiosk/watch/foreground_rules.h"

namespace {

bool OfTheProgramOrItsBrowser(const ForegroundFacts& f)
{
    return f.isLauncherWindow || f.owner.ownProcess ||
           (f.owner.browserPid != 0 && f.owner.pid == f.owner.browserPid);
}

}  // namespace

bool NeedsOwnerLookup(const ForegroundFacts& f)
{
    return f.exists && !OfTheProgramOrItsBrowser(f) && OwnerLookupNeeded(f.owner) &&
           (f.className == kBrowserWindowClass || f.className == kDialogClass);
}

bool IsForeignWindow(const ForegroundFacts& f)
{
    if (!f.exists || f.isSystemDesktop || f.owner.browserPid == 0 || OfTheProgramOrItsBrowser(f))
        return false;
    if (f.className == kDialogClass) {
        // The program's own boxes and the PIN prompt are of this process; a
        // box of any other program can show anything (a prepared script's
        // notes, an open-file dialog's preview).
        if (f.owner.image && IsAccessibilityPromptImage(*f.owner.image, f.systemFolder))
            return false;
        return !BelongsToExam(f.owner);
    }
    if (f.className == kBrowserWindowClass) {
        // Many programs are built on the browsers' engine and share its window
        // class, a normal browser window (Edge often runs in the background)
        // among them: only the exam's processes are the exam's.
        return !BelongsToExam(f.owner);
    }
    return true;
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

bool BrowserHasEnded(bool hasJob, std::optional<std::uint32_t> processesInJob, bool firstProcessExited)
{
    if (hasJob && processesInJob)
        return *processesInJob == 0;
    return firstProcessExited;
}
