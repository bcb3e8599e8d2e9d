// Which mouse events the exam lets through: plain values in, a verdict out.
#pragma once

#include <cstdint>

// Mouse messages of the low-level hook (the values of the Windows headers).
namespace mouse {
inline constexpr std::uint32_t kMove = 0x0200, kLeftDown = 0x0201, kLeftUp = 0x0202, kRightDown = 0x0204,
                               kRightUp = 0x0205, kMiddleDown = 0x0207, kMiddleUp = 0x0208, kWheel = 0x020A,
                               kSideDown = 0x020B, kSideUp = 0x020C, kHorizontalWheel = 0x020E;
}  // namespace mouse

struct MouseEvent {
    std::uint32_t message = 0;
    bool ctrl = false;
    bool shift = false;
};

// What the left button's last press left to come.
struct MouseState {
    // A left press was swallowed and its release is still to come: that
    // release is swallowed too, whatever is held by then.
    bool swallowingLeft = false;
    // A left press passed and its release is still to come: the key rules
    // keep Shift, Ctrl and Alt from it meanwhile (KeyStroke::leftPressHeld).
    bool leftPressHeld = false;
};

struct MouseVerdict {
    bool swallow = false;
    MouseState next;
};

// During an exam the right, middle and side buttons (context menu, links in
// new tabs and windows, back and forward) and a left press with Ctrl or Shift
// held (a link in a new tab or window) never reach a window; moves, plain
// left clicks and the wheel (Ctrl+wheel zoom too) do. Outside an exam
// everything passes and nothing is pending. `last` is the last verdict's.
MouseVerdict DecideMouse(bool examActive, const MouseEvent& event, MouseState last);
