// Which key strokes the exam lockdown lets through: plain values in, a verdict
// out, so the rules are tested without a hook installed.
#pragma once

#include <cstdint>

enum class KeyAction {
    Pass,            // hand the stroke on to the next hook and the windows
    Swallow,         // keep it from every window
    ProctorRequest,  // swallow it and ask the start screen for the PIN prompt
};

// Virtual-key codes and keyboard messages the rules look at (the values of
// the Windows headers, which this file does not include).
namespace vk {
inline constexpr std::uint32_t kControl = 0x11, kMenu = 0x12, kLeftControl = 0xA2, kRightControl = 0xA3,
                               kLeftMenu = 0xA4, kRightMenu = 0xA5;
inline constexpr std::uint32_t kTab = 0x09, kEscape = 0x1B, kSnapshot = 0x2C, kP = 0x50,
                               kLeftWin = 0x5B, kRightWin = 0x5C, kF4 = 0x73, kF11 = 0x7A,
                               kF12 = 0x7B;
inline constexpr std::uint32_t kKeyDown = 0x0100, kKeyUp = 0x0101, kSysKeyDown = 0x0104,
                               kSysKeyUp = 0x0105;
}  // namespace vk

struct KeyStroke {
    std::uint32_t vk = 0;       // virtual-key code
    std::uint32_t message = 0;  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    bool alt = false;
    bool ctrl = false;
};

// The lockdown's verdict on one key event. Outside an exam every key passes.
KeyAction DecideKey(bool examActive, const KeyStroke& key);

// The Alt and Ctrl keys (left and right apart) that the hook has itself seen
// go down and not yet come up.
struct HeldKeys {
    bool leftAlt = false, rightAlt = false, leftCtrl = false, rightCtrl = false;
    bool Alt() const { return leftAlt || rightAlt; }
    bool Ctrl() const { return leftCtrl || rightCtrl; }
};
HeldKeys NoteHeldKeys(HeldKeys held, std::uint32_t vk, std::uint32_t message);

// Alt is held when the hook record's LLKHF_ALTDOWN flag (0x20) says so, when
// the asynchronous state of VK_MENU has its high bit set, or when the hook saw
// it go down. Some systems (Wine among them) never set the flag, and a
// lockdown that trusted it alone would let Alt+Tab and Alt+F4 through there;
// Wine also answers the key state inside the hook from a copy up to 50 ms old,
// so an Alt pressed just before Tab can read as up. On Windows all agree.
bool IsAltDown(std::uint32_t recordFlags, std::int16_t asyncMenuState, bool seenHeld);
// Ctrl: its asynchronous state, or the hook saw it go down.
bool IsCtrlDown(std::int16_t asyncControlState, bool seenHeld);
