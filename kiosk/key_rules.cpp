#include "kiosk/key_rules.h"

KeyAction DecideKey(bool examActive, const KeyStroke& key)
{
    if (!examActive)
        return KeyAction::Pass;
    if (key.alt && key.ctrl && key.vk == vk::kP) {
        // Both halves are swallowed; only a key-down (repeats included) asks.
        const bool down = key.message == vk::kKeyDown || key.message == vk::kSysKeyDown;
        return down ? KeyAction::ProctorRequest : KeyAction::Swallow;
    }
    switch (key.vk) {
    case vk::kLeftWin:
    case vk::kRightWin:
    case vk::kSnapshot:
    case vk::kF11:
    case vk::kF12:
        return KeyAction::Swallow;
    case vk::kTab:
    case vk::kF4:
        return key.alt ? KeyAction::Swallow : KeyAction::Pass;
    case vk::kEscape:
        return key.alt || key.ctrl ? KeyAction::Swallow : KeyAction::Pass;
    default:
        return KeyAction::Pass;
    }
}

namespace {

bool HighBit(std::int16_t state)
{
    return (static_cast<std::uint16_t>(state) & 0x8000) != 0;
}

}  // namespace

HeldKeys NoteHeldKeys(HeldKeys held, std::uint32_t vkCode, std::uint32_t message)
{
    bool down;
    if (message == vk::kKeyDown || message == vk::kSysKeyDown)
        down = true;
    else if (message == vk::kKeyUp || message == vk::kSysKeyUp)
        down = false;
    else
        return held;
    switch (vkCode) {
    case vk::kMenu:  // injected input may name the key without its side
    case vk::kLeftMenu: held.leftAlt = down; break;
    case vk::kRightMenu: held.rightAlt = down; break;
    case vk::kControl:
    case vk::kLeftControl: held.leftCtrl = down; break;
    case vk::kRightControl: held.rightCtrl = down; break;
    default: break;
    }
    return held;
}

bool IsAltDown(std::uint32_t recordFlags, std::int16_t asyncMenuState, bool seenHeld)
{
    constexpr std::uint32_t kAltDownFlag = 0x20;  // LLKHF_ALTDOWN
    return (recordFlags & kAltDownFlag) != 0 || HighBit(asyncMenuState) || seenHeld;
}

bool IsCtrlDown(std::int16_t asyncControlState, bool seenHeld)
{
    return HighBit(asyncControlState) || seenHeld;
}
