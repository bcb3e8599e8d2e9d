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

bool IsAltDown(std::uint32_t recordFlags, std::int16_t asyncMenuState)
{
    constexpr std::uint32_t kAltDownFlag = 0x20;  // LLKHF_ALTDOWN
    return (recordFlags & kAltDownFlag) != 0 || (static_cast<std::uint16_t>(asyncMenuState) & 0x8000) != 0;
}
