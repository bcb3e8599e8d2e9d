// Windows that stay on top of the exam without taking the front (a
// calculator kept on top, a video's mini view, a chat window set "always on
// top"), on plain values: which count, and which are reported when.
#pragma once

#include "kiosk/owner_rules.h"

#include <cstdint>
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
    ScreenRect rect;
    std::string className;  // UTF-8
    OwnerFacts owner;
};

// Smaller than this, across or down, on the screen: too small to show notes.
inline constexpr int kOverlayMinSide = 64;

// True when the window would count as a window over the exam if its owner
// turned out not to be the exam's: look the owner up only then.
bool OverlayNeedsOwnerLookup(const TopWindowFacts& window, const ScreenRect& screen);

// A visible, uncloaked top-level window kept above every other, at least
// kOverlayMinSide pixels across and down where it meets `screen` (the whole
// desktop, every screen), of a process that is not the exam's (see
// BelongsToExam), and not of the system's own classes (the taskbars,
// tooltips, menus, IME and text-input windows, the on-screen and touch
// keyboards).
bool IsOverlayWindow(const TopWindowFacts& window, const ScreenRect& screen);

// One tick's bookkeeping, on window identities: each window over the exam is
// reported once, for as long as it exists. `reported`: those reported
// before; `existing`: every top-level window there is now; `overlays`: those
// that count now.
struct OverlayTally {
    std::vector<std::uint64_t> toReport;  // now, in the order of `overlays`
    std::vector<std::uint64_t> reported;  // to remember: still existing, or new
};
OverlayTally TallyOverlays(const std::vector<std::uint64_t>& reported, const std::vector<std::uint64_t>& existing,
                           const std::vector<std::uint64_t>& overlays);
