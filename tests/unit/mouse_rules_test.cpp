#include "kiosk/lockdown/mouse_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace mouse;

// Each event alone, with each of Ctrl and Shift held or not, no left press
// being swallowed: what a window receives during an exam.
TEST(DecideMouse, TheButtonsThatOpenMenusTabsAndWindowsAreSwallowedOnlyDuringAnExam)
{
    struct {
        const char* what;
        std::uint32_t message;
        bool swallowedPlain, swallowedWithCtrlOrShift;
    } const rows[] = {
        {"a move", kMove, false, false},
        {"the wheel (Ctrl+wheel: zoom)", kWheel, false, false},
        {"the horizontal wheel", kHorizontalWheel, false, false},
        {"a left press", kLeftDown, false, true},
        {"a left release", kLeftUp, false, false},  // its press decides, see below
        {"a right press: the context menu", kRightDown, true, true},
        {"a right release", kRightUp, true, true},
        {"a middle press: a link in a new tab", kMiddleDown, true, true},
        {"a middle release", kMiddleUp, true, true},
        {"a side button: back or forward", kSideDown, true, true},
        {"a side button's release", kSideUp, true, true},
        {"a message the hook does not know", 0x0209, false, false},
    };
    for (const auto& r : rows) {
        for (int held = 0; held < 4; ++held) {
            const bool ctrl = held & 1, shift = held & 2;
            SCOPED_TRACE(::testing::Message() << r.what << ", ctrl " << ctrl << ", shift " << shift);
            const MouseEvent event{r.message, ctrl, shift};
            EXPECT_EQ(DecideMouse(true, event, {}).swallow, held ? r.swallowedWithCtrlOrShift : r.swallowedPlain);
            EXPECT_FALSE(DecideMouse(false, event, {}).swallow) << "outside an exam";
            const MouseVerdict outside = DecideMouse(false, event, {true, true});
            EXPECT_FALSE(outside.next.swallowingLeft || outside.next.leftPressHeld) << "outside an exam nothing is pending";
        }
    }
}

// A left click is swallowed whole or passes whole: its release follows its
// press, whatever Ctrl and Shift do in between, and other events between them
// change nothing. While a press that passed is held, the state says so (the
// key rules keep the modifiers from it).
TEST(DecideMouse, ALeftReleaseGoesTheWayItsPressWent)
{
    MouseState state;
    auto step = [&](std::uint32_t message, bool ctrl, bool shift) {
        const MouseVerdict v = DecideMouse(true, {message, ctrl, shift}, state);
        state = v.next;
        return v.swallow;
    };
    // Ctrl+click, Ctrl let go before the button.
    EXPECT_TRUE(step(kLeftDown, true, false));
    EXPECT_FALSE(state.leftPressHeld) << "a swallowed press is not one that passed";
    EXPECT_FALSE(step(kMove, false, false));
    EXPECT_FALSE(step(kWheel, false, false));
    EXPECT_TRUE(step(kRightDown, false, false));
    EXPECT_TRUE(step(kLeftUp, false, false)) << "the release of a swallowed press";
    EXPECT_FALSE(state.swallowingLeft);
    // A plain click, Shift pressed before the release: the release passes.
    EXPECT_FALSE(step(kLeftDown, false, false));
    EXPECT_TRUE(state.leftPressHeld);
    EXPECT_FALSE(step(kMove, false, false));
    EXPECT_TRUE(step(kRightDown, false, false));
    EXPECT_TRUE(state.leftPressHeld) << "still held across other events";
    EXPECT_FALSE(step(kLeftUp, false, true));
    EXPECT_FALSE(state.leftPressHeld);
    // Shift+click.
    EXPECT_TRUE(step(kLeftDown, false, true));
    EXPECT_TRUE(step(kLeftUp, false, true));
    // The next plain click passes whole.
    EXPECT_FALSE(step(kLeftDown, false, false));
    EXPECT_FALSE(step(kLeftUp, false, false));
    // The exam ends between press and release: the release passes.
    EXPECT_TRUE(step(kLeftDown, true, true));
    EXPECT_FALSE(DecideMouse(false, {kLeftUp, false, false}, state).swallow);
}

}  // namespace
