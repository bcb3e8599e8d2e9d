#include "kiosk/lockdown/key_rules.h"

#include <algorithm>
#include <span>

namespace {

using namespace vk;

bool IsKeyDown(std::uint32_t message)
{
    return message == kKeyDown || message == kSysKeyDown;
}

// Which modifiers a rule asks for.
enum class When {
    Always,
    AltHeld,          // Ctrl may be held too
    CtrlWithoutAlt,
    AltWithoutCtrl,
    CtrlAndAlt,       // also how AltGr arrives
    CtrlAndShiftWithoutAlt,
    ShiftHeld,
    CtrlAndAltTypingNothing,  // Ctrl and Alt, and AltGr types no character with the key
    GoingDownUnderLeftPress,  // a key-down (repeats too) while a left press that passed is held
};

// The keys of the rules below.
constexpr std::uint32_t kProctorKey[] = {kP};
constexpr std::uint32_t kToTheSystem[] = {kLeftWin, kRightWin, kSnapshot, kF11, kF12};
constexpr std::uint32_t kWithAltToTheSystem[] = {kEscape, kTab, kF4};
constexpr std::uint32_t kWithCtrlToTheSystem[] = {kEscape};
constexpr std::uint32_t kBrowserKeys[] = {kF1, kF6, kF7, kF9, kF10, kApps, kBrowserSearch, kBrowserFavorites,
                                          kBrowserHome, kLaunchMail, kLaunchMediaSelect, kLaunchApp1, kLaunchApp2};
// Shift, Ctrl and Alt themselves.
constexpr std::uint32_t kModifiers[] = {
    kShift, kControl, kMenu, kLeftShift, kRightShift, kLeftControl, kRightControl, kLeftMenu, kRightMenu,
};
// Esc: its own task manager; Enter on a link: a new window.
constexpr std::uint32_t kWithShiftToTheBrowser[] = {kEscape, kReturn};
constexpr std::uint32_t kCtrlShiftAllowed[] = {
    kLeft, kUp, kRight, kDown, kHome, kEnd,
    kV, kZ, kTab,
    kOemPlus, kOemMinus, kAdd, kSubtract,
};
constexpr std::uint32_t kCtrlAllowed[] = {
    kA, kC, kV, kX, kY, kZ, kF,
    kLeft, kUp, kRight, kDown, kHome, kEnd, kPrior, kNext,
    kBack, kDelete, kInsert, kSpace, kTab,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    kOemPlus, kOemMinus, kAdd, kSubtract,
};
constexpr std::uint32_t kAltAllowed[] = {
    kLeft, kUp, kRight, kDown,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
};

struct Rule {
    When when;
    bool allBut;  // the rule takes every key except the ones listed
    std::span<const std::uint32_t> keys;
    KeyAction action;
};

// During an exam, top to bottom, the first rule that matches decides; a key
// no rule takes passes. The allow-lists are short on purpose: browsers gain
// new shortcuts every year, and a web form needs only these.
constexpr Rule kRules[] = {
    // Shift, Ctrl or Alt pressed between a left press and its release: the
    // release then comes without them, as a plain click. Their releases pass:
    // one whose press a window saw must reach it.
    {When::GoingDownUnderLeftPress, false, kModifiers, KeyAction::Swallow},
    // Otherwise they pass whatever is held: the rules below decide on the key
    // that comes with them.
    {When::Always, false, kModifiers, KeyAction::Pass},
    // The proctor's shortcut (swallowed on key-up too; only a key-down asks).
    {When::CtrlAndAlt, false, kProctorKey, KeyAction::ProctorRequest},
    // Ways out of the browser to the system: the Windows keys, PrintScreen,
    // F11, F12, Alt+Esc, Alt+Tab, Alt+F4, Ctrl+Esc.
    {When::Always, false, kToTheSystem, KeyAction::Swallow},
    {When::AltHeld, false, kWithAltToTheSystem, KeyAction::Swallow},
    {When::CtrlWithoutAlt, false, kWithCtrlToTheSystem, KeyAction::Swallow},
    // The browser's help, caret browsing, focus cycling, menus, context menu
    // and the keyboard's launch keys, whatever the modifiers.
    {When::Always, false, kBrowserKeys, KeyAction::Swallow},
    // Ctrl+Shift: selecting, pasting as plain text, redo, the previous tab
    // and zoom (on many layouts "+" needs Shift); the rest are the browser's
    // developer tools, tab search, clearing data, new windows, ...
    {When::CtrlAndShiftWithoutAlt, true, kCtrlShiftAllowed, KeyAction::Swallow},
    // Shift+Esc opens the browser's task manager, which ends tabs;
    // Shift+Enter opens a focused link in a new window.
    {When::ShiftHeld, false, kWithShiftToTheBrowser, KeyAction::Swallow},
    // Ctrl: editing, find in the page, moving, going back to the exam's tab,
    // digits and zoom; every other Ctrl shortcut (close, new window, new tab,
    // open, print, save, developer tools, Enter on a link for a new tab, ...)
    // is swallowed.
    {When::CtrlWithoutAlt, true, kCtrlAllowed, KeyAction::Swallow},
    // Alt: back and forward, opening a list, a character by its Alt code.
    {When::AltWithoutCtrl, true, kAltAllowed, KeyAction::Swallow},
    // Ctrl and Alt together: only what AltGr types on the layout in use. A
    // desktop shortcut's Ctrl+Alt hot key would start any program.
    {When::CtrlAndAltTypingNothing, true, {}, KeyAction::Swallow},
};

bool Applies(When when, const KeyStroke& key)
{
    const bool alt = key.alt, ctrl = key.ctrl, shift = key.shift;
    switch (when) {
    case When::Always: return true;
    case When::AltHeld: return alt;
    case When::CtrlWithoutAlt: return ctrl && !alt;
    case When::AltWithoutCtrl: return alt && !ctrl;
    case When::CtrlAndAlt: return alt && ctrl;
    case When::CtrlAndShiftWithoutAlt: return ctrl && shift && !alt;
    case When::ShiftHeld: return shift;
    case When::CtrlAndAltTypingNothing: return alt && ctrl && !key.altGrTypes;
    case When::GoingDownUnderLeftPress: return key.leftPressHeld && IsKeyDown(key.message);
    }
    return false;
}

}  // namespace

KeyAction DecideKey(bool examActive, const KeyStroke& key)
{
    if (!examActive)
        return KeyAction::Pass;
    for (const Rule& rule : kRules) {
        if (!Applies(rule.when, key))
            continue;
        const bool listed = std::find(rule.keys.begin(), rule.keys.end(), key.vk) != rule.keys.end();
        if (listed == rule.allBut)
            continue;
        if (rule.action == KeyAction::ProctorRequest && !IsKeyDown(key.message))
            return KeyAction::Swallow;
        return rule.action;
    }
    return KeyAction::Pass;
}

bool IsKeyStateDown(std::int16_t state)
{
    return (static_cast<std::uint16_t>(state) & 0x8000) != 0;
}

HeldKeys NoteHeldKeys(HeldKeys held, std::uint32_t vkCode, std::uint32_t message, std::uint32_t nowTick)
{
    bool down;
    if (message == kKeyDown || message == kSysKeyDown)
        down = true;
    else if (message == kKeyUp || message == kSysKeyUp)
        down = false;
    else
        return held;
    HeldSide* side = nullptr;
    switch (vkCode) {
    case kMenu:  // injected input may name the key without its side
    case kLeftMenu: side = &held.leftAlt; break;
    case kRightMenu: side = &held.rightAlt; break;
    case kControl:
    case kLeftControl: side = &held.leftCtrl; break;
    case kRightControl: side = &held.rightCtrl; break;
    case kShift:
    case kLeftShift: side = &held.leftShift; break;
    case kRightShift: side = &held.rightShift; break;
    default: return held;
    }
    side->down = down;
    if (down)
        side->since = nowTick;
    return held;
}

HeldKeys ReconcileHeldKeys(HeldKeys held, SidesDown system, std::uint32_t nowTick)
{
    auto reconcile = [nowTick](HeldSide& side, bool systemDown) {
        // Unsigned difference: harmless across the tick count's wrap.
        if (side.down && !systemDown && static_cast<std::uint32_t>(nowTick - side.since) > kHeldKeyLagMs)
            side.down = false;
    };
    reconcile(held.leftAlt, system.leftAlt);
    reconcile(held.rightAlt, system.rightAlt);
    reconcile(held.leftCtrl, system.leftCtrl);
    reconcile(held.rightCtrl, system.rightCtrl);
    reconcile(held.leftShift, system.leftShift);
    reconcile(held.rightShift, system.rightShift);
    return held;
}

bool IsAltDown(std::uint32_t recordFlags, std::int16_t asyncMenuState, bool seenHeld)
{
    constexpr std::uint32_t kAltDownFlag = 0x20;  // LLKHF_ALTDOWN
    return (recordFlags & kAltDownFlag) != 0 || IsKeyStateDown(asyncMenuState) || seenHeld;
}

bool IsCtrlDown(std::int16_t asyncControlState, bool seenHeld)
{
    return IsKeyStateDown(asyncControlState) || seenHeld;
}

bool IsShiftDown(std::int16_t asyncShiftState, bool seenHeld)
{
    return IsKeyStateDown(asyncShiftState) || seenHeld;
}
