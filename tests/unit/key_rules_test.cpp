#include "kiosk/lockdown/key_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr std::uint32_t kDown = vk::kKeyDown, kUp = vk::kKeyUp, kSysDown = vk::kSysKeyDown, kSysUp = vk::kSysKeyUp;
constexpr KeyAction kPass = KeyAction::Pass, kSwallow = KeyAction::Swallow, kAsk = KeyAction::ProctorRequest;

struct Row {
    const char* what;
    std::uint32_t vk;
    bool alt, ctrl;
    KeyAction onDown, onUp;  // the key's own down and up events, during an exam
    bool shift = false;
    bool altGrTypes = false;
    bool leftPressHeld = false;
};

// The lockdown's edge cases.
const Row kRows[] = {
    {"Alt+Tab (and Alt+Shift+Tab)", vk::kTab, true, false, kSwallow, kSwallow},
    {"Alt+Esc", vk::kEscape, true, false, kSwallow, kSwallow},
    {"Alt+F4", vk::kF4, true, false, kSwallow, kSwallow},
    {"the Alt key itself", vk::kMenu, true, false, kPass, kPass},
    {"the left Alt key itself", vk::kLeftMenu, true, false, kPass, kPass},
    {"Ctrl+Esc", vk::kEscape, false, true, kSwallow, kSwallow},
    {"Ctrl+Shift+Esc, the task manager", vk::kEscape, false, true, kSwallow, kSwallow, true},
    {"Shift+Esc, the browser's task manager", vk::kEscape, false, false, kSwallow, kSwallow, true},
    {"Ctrl+Alt+Esc", vk::kEscape, true, true, kSwallow, kSwallow},
    {"Esc alone", vk::kEscape, false, false, kPass, kPass},
    {"left Windows key", vk::kLeftWin, false, false, kSwallow, kSwallow},
    {"right Windows key", vk::kRightWin, false, false, kSwallow, kSwallow},
    {"Windows key with Ctrl and Alt", vk::kLeftWin, true, true, kSwallow, kSwallow},
    {"D after the Windows key", 'D', false, false, kPass, kPass},
    {"PrintScreen", vk::kSnapshot, false, false, kSwallow, kSwallow},
    {"Alt+PrintScreen", vk::kSnapshot, true, false, kSwallow, kSwallow},
    {"F11", vk::kF11, false, false, kSwallow, kSwallow},
    {"Ctrl+F11", vk::kF11, false, true, kSwallow, kSwallow},
    {"F12", vk::kF12, false, false, kSwallow, kSwallow},
    {"Alt+F12", vk::kF12, true, false, kSwallow, kSwallow},
    {"F5", 0x74, false, false, kPass, kPass},
    {"Ctrl+F5, a reload past the cache: not on the Ctrl allow-list", 0x74, false, true, kSwallow, kSwallow},
    {"P alone", vk::kP, false, false, kPass, kPass},
    {"Ctrl+P, print", vk::kP, false, true, kSwallow, kSwallow},
    {"Alt+P", vk::kP, true, false, kSwallow, kSwallow},
    {"Ctrl+Alt+P", vk::kP, true, true, kAsk, kSwallow},
    {"Ctrl+Alt+Shift+P", vk::kP, true, true, kAsk, kSwallow, true},
    {"Ctrl+Alt+P where AltGr+P types a character", vk::kP, true, true, kAsk, kSwallow, false, true},
    {"Tab without Alt", vk::kTab, false, false, kPass, kPass},
    {"Ctrl+Tab, back to the exam's tab", vk::kTab, false, true, kPass, kPass},
    {"F4 without Alt", vk::kF4, false, false, kPass, kPass},
    {"Ctrl+F4, closing the tab", vk::kF4, false, true, kSwallow, kSwallow},
    {"F1, help", vk::kF1, false, false, kSwallow, kSwallow},
    {"a letter", 'A', false, false, kPass, kPass},
    {"Shift", vk::kShift, false, false, kPass, kPass},
    {"Ctrl", vk::kControl, false, true, kPass, kPass},
    {"Ctrl+W, closing the browser", 'W', false, true, kSwallow, kSwallow},
    {"Ctrl+C, copy", 'C', false, true, kPass, kPass},
    {"Ctrl+Shift+C, developer tools in inspect mode", 'C', false, true, kSwallow, kSwallow, true},
    {"Ctrl+Shift+Delete, clearing data", vk::kDelete, false, true, kSwallow, kSwallow, true},
    {"Ctrl+Shift+A, tab search", 'A', false, true, kSwallow, kSwallow, true},
    {"Ctrl+Shift+V, paste as plain text", 'V', false, true, kPass, kPass, true},
    {"Ctrl+Shift+Z, redo", 'Z', false, true, kPass, kPass, true},
    {"Ctrl+Shift+Tab, the previous tab", vk::kTab, false, true, kPass, kPass, true},
    {"Ctrl+Shift+End, selecting", vk::kEnd, false, true, kPass, kPass, true},
    {"Ctrl+Shift+plus, zoom", vk::kOemPlus, false, true, kPass, kPass, true},
    {"Shift+A", 'A', false, false, kPass, kPass, true},
    {"Alt+Space, the window menu", vk::kSpace, true, false, kSwallow, kSwallow},
    {"Alt+Left, back", vk::kLeft, true, false, kPass, kPass},
    {"AltGr+Q (Ctrl and Alt): @ on a German keyboard", 'Q', true, true, kPass, kPass, false, true},
    {"Ctrl+Alt+Q on a US keyboard, a desktop shortcut's hot key", 'Q', true, true, kSwallow, kSwallow},
    {"Ctrl+Alt+T, a shortcut's hot key", 'T', true, true, kSwallow, kSwallow},
    {"Ctrl+Alt+Shift+7 where AltGr types {", '7', true, true, kPass, kPass, true, true},
    {"Ctrl+Alt itself", vk::kMenu, true, true, kPass, kPass},
    {"Enter alone", vk::kReturn, false, false, kPass, kPass},
    {"Ctrl+Enter: a link in a new tab", vk::kReturn, false, true, kSwallow, kSwallow},
    {"Shift+Enter: a link in a new window", vk::kReturn, false, false, kSwallow, kSwallow, true},
    {"Ctrl+Shift+Enter", vk::kReturn, false, true, kSwallow, kSwallow, true},
    // Between a left press that passed and its release the browser would read
    // them at the release: their presses are kept, their releases pass (one
    // whose press a window saw must reach it).
    {"Ctrl under a held left press", vk::kLeftControl, false, true, kSwallow, kPass, false, false, true},
    {"Shift under a held left press", vk::kLeftShift, false, false, kSwallow, kPass, true, false, true},
    {"Alt under a held left press", vk::kLeftMenu, true, false, kSwallow, kPass, false, false, true},
    {"AltGr under a held left press", vk::kRightMenu, true, true, kSwallow, kPass, false, false, true},
    {"a letter under a held left press", 'A', false, false, kPass, kPass, false, false, true},
    {"Alt+Tab under a held left press", vk::kTab, true, false, kSwallow, kSwallow, false, false, true},
};

TEST(DecideKey, SwallowsTheWaysOutOnBothHalvesOfTheStrokeDuringAnExam)
{
    for (const Row& r : kRows) {
        SCOPED_TRACE(r.what);
        // With Alt held the system sends the SYS variants; the verdict is the same.
        const std::uint32_t down = r.alt ? kSysDown : kDown, up = r.alt ? kSysUp : kUp;
        EXPECT_EQ(DecideKey(true, {r.vk, down, r.alt, r.ctrl, r.shift, r.altGrTypes, r.leftPressHeld}), r.onDown);
        EXPECT_EQ(DecideKey(true, {r.vk, up, r.alt, r.ctrl, r.shift, r.altGrTypes, r.leftPressHeld}), r.onUp);
        EXPECT_EQ(DecideKey(true, {r.vk, r.alt ? kDown : kSysDown, r.alt, r.ctrl, r.shift, r.altGrTypes,
                                   r.leftPressHeld}),
                  r.onDown)
            << "other down kind";
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

// The verdict the list of the lockdown's rules gives, written from that list
// (not from the code): the ways out to the system, the browser's keys, and
// what Ctrl and Alt may still do during an exam.
KeyAction FromTheList(std::uint32_t key, std::uint32_t message, bool alt, bool ctrl, bool shift, bool altGrTypes,
                      bool leftPressHeld)
{
    const auto in = [key](std::uint32_t first, std::uint32_t last) { return key >= first && key <= last; };
    const bool down = message == kDown || message == kSysDown;
    const bool modifier = in(0x10, 0x12) || in(0xA0, 0xA5);  // Shift, Ctrl, Alt, left and right
    // Shift, Ctrl and Alt going down between a left press that passed and its release.
    if (leftPressHeld && down && modifier)
        return kSwallow;
    if (alt && ctrl && key == 'P')
        return down ? kAsk : kSwallow;
    // Both Windows keys, PrintScreen, F11, F12.
    if (key == 0x5B || key == 0x5C || key == 0x2C || key == 0x7A || key == 0x7B)
        return kSwallow;
    // Alt+Esc, Alt+Tab, Alt+F4 (Ctrl or not); Ctrl+Esc.
    if (alt && (key == 0x1B || key == 0x09 || key == 0x73))
        return kSwallow;
    if (ctrl && !alt && key == 0x1B)
        return kSwallow;
    // F1, F6, F7, F9, F10, the Apps key and the seven launch keys, whatever the modifiers.
    if (key == 0x70 || key == 0x75 || key == 0x76 || key == 0x78 || key == 0x79 || key == 0x5D || in(0xAA, 0xAC) ||
        in(0xB4, 0xB7))
        return kSwallow;
    const bool arrow = in(0x25, 0x28);
    const bool keypadDigit = in(0x60, 0x69);
    const bool zoom = key == 0xBB || key == 0xBD || key == 0x6B || key == 0x6D;
    // Ctrl+Shift: selecting (arrows, Home, End), V, Z, Tab and zoom.
    if (ctrl && shift && !alt) {
        const bool allowed = modifier || arrow || key == 0x24 || key == 0x23 || key == 'V' || key == 'Z' ||
                             key == 0x09 || zoom;
        if (!allowed)
            return kSwallow;
    }
    // Shift+Esc, Shift+Enter.
    if (shift && (key == 0x1B || key == 0x0D))
        return kSwallow;
    if (ctrl && !alt) {
        const bool allowed = modifier || key == 'A' || key == 'C' || key == 'V' || key == 'X' || key == 'Y' ||
                             key == 'Z' || key == 'F' || arrow || in(0x21, 0x24) /* Page Up/Down, End, Home */ ||
                             key == 0x08 || key == 0x2E || key == 0x2D /* Backspace, Delete, Insert */ ||
                             key == 0x20 || key == 0x09 /* Space, Tab */ || in('0', '9') ||
                             keypadDigit || zoom;
        return allowed ? kPass : kSwallow;
    }
    if (alt && !ctrl)
        return modifier || arrow || keypadDigit ? kPass : kSwallow;
    // Ctrl and Alt: the modifiers, and a key that AltGr makes type a character.
    if (alt && ctrl)
        return modifier || altGrTypes ? kPass : kSwallow;
    return kPass;
}

// Every key, message and modifier state, during an exam and outside one.
TEST(DecideKey, EveryKeyMessageAndModifierStateMatchesTheListOfRules)
{
    int checked = 0;
    for (std::uint32_t key = 0; key <= 0xFF; ++key) {
        for (const std::uint32_t message : {kDown, kUp, kSysDown, kSysUp}) {
            for (int held = 0; held < 32; ++held) {
                const bool alt = held & 1, ctrl = held & 2, shift = held & 4, altGrTypes = held & 8,
                           leftPressHeld = held & 16;
                const KeyStroke stroke{key, message, alt, ctrl, shift, altGrTypes, leftPressHeld};
                ASSERT_EQ(DecideKey(true, stroke),
                          FromTheList(key, message, alt, ctrl, shift, altGrTypes, leftPressHeld))
                    << "key " << std::hex << key << " message " << message << " alt " << alt << " ctrl " << ctrl
                    << " shift " << shift << " AltGr types " << altGrTypes << " left press held " << leftPressHeld;
                ASSERT_EQ(DecideKey(false, stroke), kPass) << "outside an exam, key " << std::hex << key;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 256 * 4 * 32);
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
    EXPECT_TRUE(IsShiftDown(static_cast<std::int16_t>(0x8000), false));
    EXPECT_TRUE(IsShiftDown(0, true));
    EXPECT_FALSE(IsShiftDown(0x7FFF, false));
}

TEST(NoteHeldKeys, FollowsEachAltCtrlAndShiftKeyFromDownToUpAndWhenItWentDown)
{
    HeldKeys held;
    held = NoteHeldKeys(held, vk::kLeftMenu, kSysDown, 100);
    EXPECT_TRUE(held.Alt());
    EXPECT_EQ(held.leftAlt.since, 100u);
    held = NoteHeldKeys(held, vk::kTab, kSysDown, 110);  // other keys change nothing
    EXPECT_TRUE(held.Alt());
    EXPECT_FALSE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kLeftMenu, kSysDown, 600);  // the key's repeat
    EXPECT_EQ(held.leftAlt.since, 600u);
    held = NoteHeldKeys(held, vk::kRightMenu, kSysDown, 700);
    held = NoteHeldKeys(held, vk::kLeftMenu, kSysUp, 710);
    EXPECT_TRUE(held.Alt()) << "the right Alt is still down";
    held = NoteHeldKeys(held, vk::kRightMenu, kUp, 720);
    EXPECT_FALSE(held.Alt());

    held = NoteHeldKeys(held, vk::kMenu, kSysDown, 800);  // injected without a side
    EXPECT_TRUE(held.leftAlt.down);
    held = NoteHeldKeys(held, vk::kMenu, 0x0102 /* WM_CHAR */, 810);
    EXPECT_TRUE(held.Alt()) << "no key message, no change";
    held = NoteHeldKeys(held, vk::kMenu, kSysUp, 820);
    EXPECT_FALSE(held.Alt());

    held = NoteHeldKeys(held, vk::kControl, kDown, 900);
    held = NoteHeldKeys(held, vk::kRightControl, kDown, 910);
    EXPECT_TRUE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kLeftControl, kUp, 920);
    EXPECT_TRUE(held.Ctrl());
    held = NoteHeldKeys(held, vk::kRightControl, kUp, 930);
    EXPECT_FALSE(held.Ctrl());
    EXPECT_FALSE(held.Alt());

    held = NoteHeldKeys(held, vk::kShift, kDown, 1000);  // injected without a side
    EXPECT_TRUE(held.leftShift.down);
    held = NoteHeldKeys(held, vk::kRightShift, kDown, 1010);
    held = NoteHeldKeys(held, vk::kLeftShift, kUp, 1020);
    EXPECT_TRUE(held.Shift()) << "the right Shift is still down";
    EXPECT_EQ(held.rightShift.since, 1010u);
    held = NoteHeldKeys(held, vk::kRightShift, kUp, 1030);
    EXPECT_FALSE(held.Shift());
    EXPECT_FALSE(held.Ctrl());
}

TEST(ReconcileHeldKeys, ForgetsOnlyASideTheSystemSaysIsUpAndThatWentDownLongEnoughAgo)
{
    const auto held = [](std::uint32_t since) { return HeldSide{true, since}; };
    struct {
        const char* what;
        HeldSide side;
        bool systemDown;
        std::uint32_t now;
        bool stillHeld;
    } const rows[] = {
        {"a key-up the hook missed, long ago", held(1000), false, 5000, false},
        {"still held, the system agrees", held(1000), true, 5000, true},
        {"just pressed: the system's state may lag", held(4800), false, 5000, true},
        {"exactly the lag", held(4500), false, 5000, true},
        {"just past the lag", held(4499), false, 5000, false},
        {"across the tick count's wrap, long ago", held(0xFFFFF000u), false, 0x00001000u, false},
        {"across the wrap, just pressed", held(0xFFFFFF00u), false, 0x00000010u, true},
        {"not held stays not held", HeldSide{false, 0}, true, 5000, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        // Each side on its own: the others are held and said to be down.
        for (int side = 0; side < 6; ++side) {
            HeldKeys keys;
            keys.leftAlt = keys.rightAlt = keys.leftCtrl = keys.rightCtrl = keys.leftShift = keys.rightShift =
                held(r.now);
            SidesDown system{true, true, true, true, true, true};
            HeldSide* sides[] = {&keys.leftAlt,  &keys.rightAlt,  &keys.leftCtrl,
                                 &keys.rightCtrl, &keys.leftShift, &keys.rightShift};
            bool* down[] = {&system.leftAlt,  &system.rightAlt,  &system.leftCtrl,
                            &system.rightCtrl, &system.leftShift, &system.rightShift};
            *sides[side] = r.side;
            *down[side] = r.systemDown;
            const HeldKeys after = ReconcileHeldKeys(keys, system, r.now);
            const HeldSide afterSides[] = {after.leftAlt,   after.rightAlt,  after.leftCtrl,
                                           after.rightCtrl, after.leftShift, after.rightShift};
            for (int other = 0; other < 6; ++other)
                EXPECT_EQ(afterSides[other].down, other == side ? r.stillHeld : true) << "side " << side << ", " << other;
        }
    }
}

}  // namespace
