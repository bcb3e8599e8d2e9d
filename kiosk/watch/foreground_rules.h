// The decisions of the once-a-second foreground watch, on plain values.
#pragma once

#include "kiosk/watch/owner_rules.h"

#include <cstdint>
#include <optional>
#include <string>

inline constexpr char kBrowserWindowClass[] = "Chrome_WidgetWin_1";
inline constexpr char kDialogClass[] = "#32770";

// What the watch found out about the window in front.
struct ForegroundFacts {
    bool exists = false;            // there is a foreground window at all
    bool isLauncherWindow = false;  // the control bar or the start screen
    // The system's own desktop window (GetDesktopWindow), in front when no
    // window is active: under Wine also while a Linux program (the demo's
    // Chromium) has the X focus. The shell's desktop (Win+D) is another
    // window, and counts.
    bool isSystemDesktop = false;
    std::string className;          // UTF-8
    OwnerFacts owner;
    std::string systemFolder;       // where the accessibility prompt lives
};

// True when the owner of the window in front must be looked up before a
// verdict can be given: a browser-class window or a dialog box of another
// process than this program and the launched browser.
bool NeedsOwnerLookup(const ForegroundFacts& facts);

// True when the window in front means the student has left the exam. Never:
// no window (or only the system's desktop window), no browser recorded, any window of this program or of the
// launched browser. A dialog box counts unless its process is the exam's (see
// BelongsToExam) or the system's accessibility prompt; a browser-class window
// counts unless its process is the exam's; any other window counts.
bool IsForeignWindow(const ForegroundFacts& facts);

// More than 5000 ms since the last recorded violation, on the 32-bit tick
// count (unsigned difference, so its wrap after 49.7 days does no harm).
bool ViolationSpacingElapsed(std::uint32_t nowTick, std::uint32_t lastTick);

// The gap between two ticks of the watch (GetTickCount64, ms) that tells the
// program was not running: more than 5000 ms, the proctor hears of it with
// the whole seconds of the gap. A suspended process, a PC asleep or a
// debugger holding it are seen only this way, once it runs again. 0: no
// gap worth a report.
std::uint64_t FrozenSeconds(std::uint64_t previousTickMs, std::uint64_t nowMs);

// The exam's browser has ended. With a job whose count of processes can be
// read: none of them is left (a browser that swaps in an update starts its
// successor in the job and exits: the exam goes on). Without a job, or when
// the count cannot be read: the first process has exited.
bool BrowserHasEnded(bool hasJob, std::optional<std::uint32_t> processesInJob, bool firstProcessExited);
