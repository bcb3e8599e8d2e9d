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
inline constexpr std::uint32_t kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11,
                               kMenu = 0x12, kEscape = 0x1B, kSpace = 0x20, kPrior = 0x21, kNext = 0x22,
                               kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28,
                               kSnapshot = 0x2C, kInsert = 0x2D, kDelete = 0x2E, k0 = 0x30, k9 = 0x39, kA = 0x41,
                               kC = 0x43, kF = 0x46, kP = 0x50, kV = 0x56, kX = 0x58, kY = 0x59, kZ = 0x5A,
                               kLeftWin = 0x5B, kRightWin = 0x5C, kApps = 0x5D, kNumpad0 = 0x60, kNumpad9 = 0x69,
                               kAdd = 0x6B, kSubtract = 0x6D, kF1 = 0x70, kF4 = 0x73, kF6 = 0x75, kF7 = 0x76,
                               kF9 = 0x78, kF10 = 0x79, kF11 = 0x7A, kF12 = 0x7B, kLeftShift = 0xA0,
                               kRightShift = 0xA1, kLeftControl = 0xA2, kRightControl = 0xA3, kLeftMenu = 0xA4,
                               kRightMenu = 0xA5, kBrowserSearch = 0xAA, kBrowserFavorites = 0xAB,
                               kBrowserHome = 0xAC, kLaunchMail = 0xB4, kLaunchMediaSelect = 0xB5,
                               kLaunchApp1 = 0xB6, kLaunchApp2 = 0xB7, kOemPlus = 0xBB, kOemMinus = 0xBD;
inline constexpr std::uint32_t kKeyDown = 0x0100, kKeyUp = 0x0101, kSysKeyDown = 0x0104,
                               kSysKeyUp = 0x0105;
}  // namespace vk

struct KeyStroke {
    std::uint32_t vk = 0;       // virtual-key code
    std::uint32_t message = 0;  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP
    bool alt = false;
    bool ctrl = false;
    bool shift = false;
    // With Ctrl and Alt held: the key types a character with AltGr on the
    // keyboard layout of the window in front (@ on a German Q, for example).
    bool altGrTypes = false;
    // A left press that passed is held: the browser reads the modifiers at
    // its release (Ctrl or Shift then open the link in a new tab or window).
    bool leftPressHeld = false;
};

// The lockdown's verdict on one key event. Outside an exam every key passes;
// during one, the rules of key_rules.cpp, first match wins.
KeyAction DecideKey(bool examActive, const KeyStroke& key);

// One Alt, Ctrl or Shift key as the hook has seen it: down, and since when (the
// tick count of its last key-down, repeats included).
struct HeldSide {
    bool down = false;
    std::uint32_t since = 0;
};

// The Alt, Ctrl and Shift keys (left and right apart) that the hook has
// itself seen go down and not yet come up.
struct HeldKeys {
    HeldSide leftAlt, rightAlt, leftCtrl, rightCtrl, leftShift, rightShift;
    bool Alt() const { return leftAlt.down || rightAlt.down; }
    bool Ctrl() const { return leftCtrl.down || rightCtrl.down; }
    bool Shift() const { return leftShift.down || rightShift.down; }
};
HeldKeys NoteHeldKeys(HeldKeys held, std::uint32_t vk, std::uint32_t message, std::uint32_t nowTick);

// What the system says of each side's own key (VK_LMENU, VK_RMENU,
// VK_LCONTROL, VK_RCONTROL, VK_LSHIFT, VK_RSHIFT): true when it is down.
struct SidesDown {
    bool leftAlt = false, rightAlt = false, leftCtrl = false, rightCtrl = false, leftShift = false,
         rightShift = false;
};

// Forgets a side the hook believes held when the system says its key is up
// and the hook saw it go down more than kHeldKeyLagMs ago: a key-up the hook
// never saw (the secure screen of Ctrl+Alt+Del takes it) would otherwise keep
// Alt, Ctrl or Shift "held" for the rest of the exam. A key that went down only just
// now may still read as up (Wine's key state lags up to 50 ms behind).
inline constexpr std::uint32_t kHeldKeyLagMs = 500;
HeldKeys ReconcileHeldKeys(HeldKeys held, SidesDown system, std::uint32_t nowTick);

// Alt is held when the hook record's LLKHF_ALTDOWN flag (0x20) says so, when
// the asynchronous state of VK_MENU has its high bit set, or when the hook saw
// it go down. Some systems (Wine among them) never set the flag, and a
// lockdown that trusted it alone would let Alt+Tab and Alt+F4 through there;
// Wine also answers the key state inside the hook from a copy up to 50 ms old,
// so an Alt pressed just before Tab can read as up. On Windows all agree.
bool IsAltDown(std::uint32_t recordFlags, std::int16_t asyncMenuState, bool seenHeld);
// Ctrl and Shift: the asynchronous state, or the hook saw the key go down.
bool IsCtrlDown(std::int16_t asyncControlState, bool seenHeld);
bool IsShiftDown(std::int16_t asyncShiftState, bool seenHeld);
// The high bit of a GetAsyncKeyState answer: the key is down.
bool IsKeyStateDown(std::int16_t asyncState);
