// The decisions of the once-a-second foreground watch, on plain values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr char kBrowserWindowClass[] = "Chrome_WidgetWin_1";
inline constexpr char kDialogClass[] = "#32770";

// What the watch found out about the window in front.
struct ForegroundFacts {
    bool exists = false;          // there is a foreground window at all
    bool isLauncherWindow = false;  // the control bar or the start screen
    std::uint32_t ownerPid = 0;   // process that owns the window
    std::uint32_t browserPid = 0;  // the launched browser, 0 if none
    std::string className;        // UTF-8
    // The exam's browser runs in a job of its own (it could be made).
    bool examJob = false;
    // Read only for browser-class windows of another process: with a job,
    // whether the owner is in it (nullopt: could not be told); without one,
    // the owner's executable (UTF-8; nullopt: could not be read).
    std::optional<bool> ownerInExamJob;
    std::optional<std::string> ownerImage;
};

// True when the browser-class window's owner must be looked up before a
// verdict can be given (so the watch opens other processes only then).
bool NeedsOwnerLookup(const ForegroundFacts& facts);

// True when the window in front means the student has left the exam. Checked
// in this order: no window, the launcher's own, any window of the launched
// browser, a standard dialog, a browser-class window of a process in the
// exam's job; only when there is no job, a browser-class window of a browser
// install path (or whose path cannot be read).
bool IsForeignWindow(const ForegroundFacts& facts);

// One of the four browser install paths, letter case aside.
bool IsBrowserImagePath(std::string_view path);

// More than 5000 ms since the last recorded violation, on the 32-bit tick
// count (unsigned difference, so its wrap after 49.7 days does no harm).
bool ViolationSpacingElapsed(std::uint32_t nowTick, std::uint32_t lastTick);

// The gap between two ticks of the watch (GetTickCount64, ms) that tells the
// program was not running: more than 5000 ms, the proctor hears of it with
// the whole seconds of the gap. A suspended process, a PC asleep or a
// debugger holding it are seen only this way, once it runs again. 0: no
// gap worth a report.
std::uint64_t FrozenSeconds(std::uint64_t previousTickMs, std::uint64_t nowMs);
