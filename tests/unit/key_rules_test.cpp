#include "kiosk/key_rules.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

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

TEST(DecideKey, PassesEveryKeyWhenNoExamRuns)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.what);
        for (const std::uint32_t message : {kDown, kUp, kSysDown, kSysUp})
            EXPECT_EQ(DecideKey(false, {r.vk, message, r.alt, r.ctrl}), kPass);
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

namespace {

// A figure, not a timed test: what the rules cost per key event, natively.
TEST(DecideKey, CostPerKeyEvent)
{
    constexpr int kEvents = 5'000'000;
    std::uint64_t swallowed = 0;
    HeldKeys held;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kEvents; ++i) {
        const auto vk = static_cast<std::uint32_t>(i & 0xFF);
        const std::uint32_t message = (i & 0x100) ? kUp : kDown;
        held = NoteHeldKeys(held, vk, message);
        const KeyStroke key{vk, message, IsAltDown(0, 0, held.Alt()), IsCtrlDown(0, held.Ctrl())};
        swallowed += DecideKey(true, key) != kPass;
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - begin).count();
    std::printf("key rules: %.1f ns per key event (%d events)\n", ns / kEvents, kEvents);
    // Every code comes round as often: at least the five always-swallowed keys
    // on both halves of their strokes.
    EXPECT_GE(swallowed, 5u * (kEvents / 256));
    EXPECT_LT(swallowed, static_cast<std::uint64_t>(kEvents));
}

}  // namespace
