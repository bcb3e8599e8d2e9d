#include "kiosk/key_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

constexpr std::uint32_t kDown = vk::kKeyDown, kUp = vk::kKeyUp, kSysDown = vk::kSysKeyDown, kSysUp = vk::kSysKeyUp;
constexpr std::uint32_t kShift = 0x10, kCtrl = 0x11, kAlt = 0x12, kLAlt = 0xA4, kF5 = 0x74, kA = 0x41, kD = 0x44;
constexpr KeyAction kPass = KeyAction::Pass, kSwallow = KeyAction::Swallow, kAsk = KeyAction::ProctorRequest;

struct Row {
    const char* what;
    std::uint32_t vk;
    bool alt, ctrl;
    KeyAction onDown, onUp;  // the key's own down and up events, during an exam
};

// Shift plays no part: rows with Shift held are the same events as without.
const Row kRows[] = {
    {"Alt+Tab (and Alt+Shift+Tab)", vk::kTab, true, false, kSwallow, kSwallow},
    {"Alt+Esc", vk::kEscape, true, false, kSwallow, kSwallow},
    {"Alt+F4", vk::kF4, true, false, kSwallow, kSwallow},
    {"the Alt key itself", kAlt, true, false, kPass, kPass},
    {"the left Alt key itself", kLAlt, true, false, kPass, kPass},
    {"Ctrl+Esc (and Ctrl+Shift+Esc)", vk::kEscape, false, true, kSwallow, kSwallow},
    {"Ctrl+Alt+Esc", vk::kEscape, true, true, kSwallow, kSwallow},
    {"Esc alone", vk::kEscape, false, false, kPass, kPass},
    {"left Windows key", vk::kLeftWin, false, false, kSwallow, kSwallow},
    {"right Windows key", vk::kRightWin, false, false, kSwallow, kSwallow},
    {"Windows key with Ctrl and Alt", vk::kLeftWin, true, true, kSwallow, kSwallow},
    {"D after the Windows key", kD, false, false, kPass, kPass},
    {"PrintScreen", vk::kSnapshot, false, false, kSwallow, kSwallow},
    {"Alt+PrintScreen", vk::kSnapshot, true, false, kSwallow, kSwallow},
    {"F11", vk::kF11, false, false, kSwallow, kSwallow},
    {"Ctrl+F11", vk::kF11, false, true, kSwallow, kSwallow},
    {"F12", vk::kF12, false, false, kSwallow, kSwallow},
    {"Alt+F12", vk::kF12, true, false, kSwallow, kSwallow},
    {"F5", kF5, false, false, kPass, kPass},
    {"Ctrl+F5", kF5, false, true, kPass, kPass},
    {"P alone", vk::kP, false, false, kPass, kPass},
    {"Ctrl+P", vk::kP, false, true, kPass, kPass},
    {"Alt+P", vk::kP, true, false, kPass, kPass},
    {"Ctrl+Alt+P (and Ctrl+Alt+Shift+P)", vk::kP, true, true, kAsk, kSwallow},
    {"Tab without Alt", vk::kTab, false, false, kPass, kPass},
    {"Ctrl+Tab", vk::kTab, false, true, kPass, kPass},
    {"F4 without Alt", vk::kF4, false, false, kPass, kPass},
    {"Ctrl+F4", vk::kF4, false, true, kPass, kPass},
    {"a letter", kA, false, false, kPass, kPass},
    {"Shift", kShift, false, false, kPass, kPass},
    {"Ctrl", kCtrl, false, true, kPass, kPass},
};

TEST(DecideKey, SwallowsTheWaysOutOnBothHalvesOfTheStrokeDuringAnExam)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.what);
        // With Alt held the system sends the SYS variants; the verdict is the same.
        const std::uint32_t down = r.alt ? kSysDown : kDown, up = r.alt ? kSysUp : kUp;
        EXPECT_EQ(DecideKey(true, {r.vk, down, r.alt, r.ctrl}), r.onDown);
        EXPECT_EQ(DecideKey(true, {r.vk, up, r.alt, r.ctrl}), r.onUp);
        EXPECT_EQ(DecideKey(true, {r.vk, r.alt ? kDown : kSysDown, r.alt, r.ctrl}), r.onDown) << "other down kind";
    }
}

TEST(DecideKey, EveryKeyDownOfCtrlAltPAsksAgainSoRepeatsAskToo)
{
    const KeyStroke repeat{vk::kP, kSysDown, true, true};
    EXPECT_EQ(DecideKey(true, repeat), kAsk);
    EXPECT_EQ(DecideKey(true, repeat), kAsk);
    EXPECT_EQ(DecideKey(true, {vk::kP, kDown, true, true}), kAsk) << "Ctrl turns the down into a plain WM_KEYDOWN";
    EXPECT_EQ(DecideKey(true, {vk::kP, kSysUp, true, true}), kSwallow);
    EXPECT_EQ(DecideKey(true, {vk::kP, 0x0102 /* WM_CHAR */, true, true}), kSwallow);
}

// Every key, message and modifier state against a table written from the list
// of the lockdown's rules (not from the code): what each row of the list
// swallows, everything else passes.
TEST(DecideKey, EveryKeyMessageAndModifierStateMatchesTheListOfRules)
{
    const std::set<std::uint32_t> alwaysSwallowed = {0x5B, 0x5C, 0x2C, 0x7A, 0x7B};  // Win, Win, PrintScreen, F11, F12
    const std::set<std::uint32_t> swallowedWithAlt = {0x1B, 0x09, 0x73};              // Esc, Tab, F4
    const std::set<std::uint32_t> swallowedWithCtrlAlone = {0x1B};                     // Esc
    int checked = 0;
    for (std::uint32_t key = 0; key <= 0xFF; ++key) {
        for (const std::uint32_t message : {kDown, kUp, kSysDown, kSysUp}) {
            for (const bool alt : {false, true}) {
                for (const bool ctrl : {false, true}) {
                    const bool down = message == kDown || message == kSysDown;
                    KeyAction expected = kPass;
                    if (alt && ctrl && key == 'P')
                        expected = down ? kAsk : kSwallow;
                    else if (alwaysSwallowed.contains(key) || (alt && swallowedWithAlt.contains(key)) ||
                             (ctrl && !alt && swallowedWithCtrlAlone.contains(key)))
                        expected = kSwallow;
                    const KeyStroke stroke{key, message, alt, ctrl};
                    ASSERT_EQ(DecideKey(true, stroke), expected)
                        << "key " << std::hex << key << " message " << message << " alt " << alt << " ctrl " << ctrl;
                    ASSERT_EQ(DecideKey(false, stroke), kPass) << "outside an exam, key " << std::hex << key;
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 256 * 4 * 2 * 2);
}

TEST(IsAltDown, TheRecordFlagTheKeyStateOrWhatTheHookSawEachIsEnough)
{
    struct {
        std::uint32_t flags;
        std::int16_t state;
        bool seen;
        bool down;
    } const rows[] = {
        {0x20, 0, false, true},                                  // Windows: the flag
        {0x00, static_cast<std::int16_t>(0x8000), false, true},  // Wine: no flag, the key state
        {0x00, 0, true, true},                                   // Wine: a stale key state, the hook saw it
        {0x20, static_cast<std::int16_t>(0x8001), true, true},
        {0x00, static_cast<std::int16_t>(0x8001), false, true},  // held, and pressed since the last call
        {0x00, 0x0001, false, false},                            // pressed earlier, now up
        {0x00, 0, false, false},
        {0x10 | 0x80, 0, false, false},                          // injected and key-up flags are not Alt
        {0xFFFFFFDFu, 0x7FFF, false, false},                     // every other bit set
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsAltDown(r.flags, r.state, r.seen), r.down) << std::hex << r.flags << " " << r.state << " " << r.seen;
    EXPECT_TRUE(IsCtrlDown(static_cast<std::int16_t>(0x8000), false));
    EXPECT_TRUE(IsCtrlDown(0, true));
    EXPECT_FALSE(IsCtrlDown(0x7FFF, false));
}

TEST(NoteHeldKeys, FollowsEachAltAndCtrlKeyFromDownToUp)
{
    HeldKeys held;
    held = NoteHeldKeys(held, kLAlt, kSysDown);
    EXPECT_TRUE(held.Alt());
    held = NoteHeldKeys(held, vk::kTab, kSysDown);  // other keys change nothing
    EXPECT_TRUE(held.Alt());
    EXPECT_FALSE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kRightMenu, kSysDown);
    held = NoteHeldKeys(held, kLAlt, kSysUp);
    EXPECT_TRUE(held.Alt()) << "the right Alt is still down";
    held = NoteHeldKeys(held, vk::kRightMenu, kUp);
    EXPECT_FALSE(held.Alt());

    held = NoteHeldKeys(held, kAlt, kSysDown);  // injected without a side
    EXPECT_TRUE(held.Alt());
    held = NoteHeldKeys(held, kAlt, 0x0102 /* WM_CHAR */);
    EXPECT_TRUE(held.Alt()) << "no key message, no change";
    held = NoteHeldKeys(held, kAlt, kSysUp);
    EXPECT_FALSE(held.Alt());

    held = NoteHeldKeys(held, kCtrl, kDown);
    held = NoteHeldKeys(held, vk::kRightControl, kDown);
    EXPECT_TRUE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kLeftControl, kUp);
    EXPECT_TRUE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kRightControl, kUp);
    EXPECT_FALSE(held.Ctrl());
    EXPECT_FALSE(held.Alt());
}

}  // namespace
