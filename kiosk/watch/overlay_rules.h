// Windows of other programs over the exam's window without taking the front
// (a calculator kept on top, a video's mini view, a window of notes shown
// without activation), on plain values: which count, and which are reported
// when.
#pragma once

#include "kiosk/watch/owner_rules.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A rectangle on the screen, right and bottom excluded.
struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// What the watch found out about one top-level window.
struct TopWindowFacts {
    bool visible = false;
    bool topmost = false;  // WS_EX_TOPMOST
    bool cloaked = false;  // kept off the screen by the system (another virtual desktop, a hidden app)
    bool inFront = false;  // the foreground window: the switch away is the watch's own report
    ScreenRect rect;
    std::string className;  // UTF-8
    OwnerFacts owner;
};

// Where the system's own programs live (UTF-8, no trailing backslash): the
// Windows folder, its system folder, the shared program files
// ("C:\Program Files\Common Files").
struct SystemPlaces {
    std::string windows, system, commonFiles;
};

// Smaller than this, across or down, on the screen: too small to show notes.
inline constexpr int kOverlayMinSide = 32;

// True when the window could count once its owner is known: look the owner
// up only then (also to tell whether it is the exam's own window).
bool OverlayNeedsOwnerLookup(const TopWindowFacts& window, const ScreenRect& screen);

// A window of the system's own that may sit over the exam: the taskbars
// (Shell_TrayWnd, Shell_SecondaryTrayWnd) of explorer.exe in the Windows or
// system folder, the on-screen keyboard (OSKMainClass) of osk.exe in the
// system folder, the touch keyboard (IPTip_Main_Window) of TabTip.exe in
// "microsoft shared\ink" of the shared program files; tooltips
// (tooltips_class32), menus (#32768) and IME windows (IME, MSCTFIME UI) of
// a program directly in the Windows or the system folder (the exam's and
// this program's own never count anyway). Any program can register these
// class names: the name alone proves nothing, nor does an unreadable image.
bool IsSystemsOwnWindow(const TopWindowFacts& window, const SystemPlaces& places);

// One window over the exam: visible, uncloaked, not in front, at least
// kOverlayMinSide pixels across and down where it meets `screen` (the whole
// desktop, every screen), meeting the exam's window `examWindow` (the screen
// when that is not known), of a process that is not the exam's (see
// BelongsToExam), and not the system's own (see IsSystemsOwnWindow). Where
// it stands in the order of windows is the caller's: see WindowsOverExam.
bool IsOverlayWindow(const TopWindowFacts& window, const ScreenRect& screen, const ScreenRect& examWindow,
                     const SystemPlaces& places);

// The exam's window among the top-level windows (front first): the largest
// on the screen of the visible, uncloaked windows of the exam's processes
// other than this program (the browser and what runs in its job), the front
// one of equals. nullopt when none shows (a browser the system cannot see,
// as Linux Chromium under Wine).
std::optional<std::size_t> ExamWindowIndex(const std::vector<TopWindowFacts>& frontToBack, const ScreenRect& screen);

// The windows (their indexes, front first) over the exam: above the exam's
// window in the order, topmost or not, and counting by IsOverlayWindow.
// Without an exam's window: the topmost windows over the screen.
std::vector<std::size_t> WindowsOverExam(const std::vector<TopWindowFacts>& frontToBack, const ScreenRect& screen,
                                         const SystemPlaces& places);

// One tick's bookkeeping, on window identities: each window over the exam is
// reported once, for as long as it exists, once it has counted on two ticks
// in a row (the order of windows passes through such states for a moment
// while another window is activated or closes). `reported`: those reported
// before; `seen`: those that counted on the tick before and are not
// reported yet; `existing`: every top-level window there is now;
// `overlays`: those that count now.
struct OverlayTally {
    std::vector<std::uint64_t> toReport;  // now, in the order of `overlays`
    std::vector<std::uint64_t> reported;  // to remember: still existing, or new
    std::vector<std::uint64_t> seen;      // counting now for the first tick
};
OverlayTally TallyOverlays(const std::vector<std::uint64_t>& reported, const std::vector<std::uint64_t>& seen,
                           const std::vector<std::uint64_t>& existing, const std::vector<std::uint64_t>& overlays);
