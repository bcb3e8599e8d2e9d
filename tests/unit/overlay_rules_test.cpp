#include "kiosk/overlay_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t kBrowserProcess = 400, kOtherProcess = 500, kHelperProcess = 600;
const ScreenRect kScreen{0, 0, 1366, 768};

// A visible topmost window of 300 x 200 of another program outside the
// exam's job, in the middle of the screen.
TopWindowFacts OnTop()
{
    TopWindowFacts w;
    w.visible = true;
    w.topmost = true;
    w.rect = {500, 300, 800, 500};
    w.className = "CalcFrame";
    w.owner.pid = kOtherProcess;
    w.owner.browserPid = kBrowserProcess;
    w.owner.examJob = true;
    w.owner.inExamJob = false;
    w.owner.image = "C:\\Windows\\System32\\calc.exe";
    return w;
}

template <typename Change>
TopWindowFacts OnTop(Change change)
{
    TopWindowFacts w = OnTop();
    change(w);
    return w;
}

TEST(IsOverlayWindow, AnotherProgramsWindowKeptOnTopCountsWhereTheSystemsOwnAndTheExamsDoNot)
{
    struct {
        const char* what;
        TopWindowFacts window;
        bool overlay;
    } const rows[] = {
        {"a calculator kept on top", OnTop(), true},
        {"not topmost", OnTop([](auto& w) { w.topmost = false; }), false},
        {"hidden", OnTop([](auto& w) { w.visible = false; }), false},
        {"cloaked (another virtual desktop)", OnTop([](auto& w) { w.cloaked = true; }), false},
        {"64 x 64 exactly", OnTop([](auto& w) { w.rect = {10, 10, 74, 74}; }), true},
        {"63 across", OnTop([](auto& w) { w.rect = {10, 10, 73, 300}; }), false},
        {"63 down", OnTop([](auto& w) { w.rect = {10, 10, 300, 73}; }), false},
        {"20 x 20", OnTop([](auto& w) { w.rect = {10, 10, 30, 30}; }), false},
        {"mostly off the right edge, 63 left on it", OnTop([](auto& w) { w.rect = {1303, 100, 1703, 400}; }), false},
        {"mostly off the left edge, 64 left on it", OnTop([](auto& w) { w.rect = {-336, 100, 64, 400}; }), true},
        {"minimised, far off the screen", OnTop([](auto& w) { w.rect = {-32000, -32000, -31840, -31972}; }), false},
        {"bigger than the screen", OnTop([](auto& w) { w.rect = {-100, -100, 3000, 2000}; }), true},
        {"the taskbar", OnTop([](auto& w) { w.className = "Shell_TrayWnd"; }), false},
        {"the taskbar on a second screen", OnTop([](auto& w) { w.className = "Shell_SecondaryTrayWnd"; }), false},
        {"a tooltip", OnTop([](auto& w) { w.className = "tooltips_class32"; }), false},
        {"a menu", OnTop([](auto& w) { w.className = "#32768"; }), false},
        {"an IME window", OnTop([](auto& w) { w.className = "IME"; }), false},
        {"a text-input candidate window", OnTop([](auto& w) { w.className = "MSCTFIME UI"; }), false},
        {"the on-screen keyboard", OnTop([](auto& w) { w.className = "OSKMainClass"; }), false},
        {"the touch keyboard", OnTop([](auto& w) { w.className = "IPTip_Main_Window"; }), false},
        {"a system class name in other letter case", OnTop([](auto& w) { w.className = "shell_traywnd"; }), true},
        {"a dialog box kept on top", OnTop([](auto& w) { w.className = "#32770"; }), true},
        {"a chat program on the browsers' engine",
         OnTop([](auto& w) { w.className = "Chrome_WidgetWin_1"; w.owner.image = "C:\\Chat\\chat.exe"; }), true},
        {"the launched browser's own", OnTop([](auto& w) { w.owner.pid = kBrowserProcess; }), false},
        {"this program's (the bar, the PIN prompt)", OnTop([](auto& w) { w.owner.ownProcess = true; }), false},
        {"a process of the exam's job", OnTop([](auto& w) { w.owner.pid = kHelperProcess; w.owner.inExamJob = true; }),
         false},
        {"a process whose job cannot be told", OnTop([](auto& w) { w.owner.inExamJob = std::nullopt; }), true},
        {"no job: a browser at its install path",
         OnTop([](auto& w) {
             w.owner.examJob = false;
             w.owner.image = "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe";
         }),
         false},
        {"no job: another program", OnTop([](auto& w) { w.owner.examJob = false; }), true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(IsOverlayWindow(r.window, kScreen), r.overlay) << r.what;
        // The owner is looked at only when nothing else has ruled the window out.
        if (r.overlay) {
            EXPECT_TRUE(OverlayNeedsOwnerLookup(r.window, kScreen)) << r.what;
        }
    }
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.topmost = false; }), kScreen));
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.className = "#32768"; }), kScreen));
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.owner.pid = kBrowserProcess; }), kScreen));
    // Two screens side by side: a window on the second one is on the desktop.
    const ScreenRect twoScreens{0, 0, 1366 + 1280, 1024};
    const TopWindowFacts onSecond = OnTop([](auto& w) { w.rect = {1500, 600, 1800, 900}; });
    EXPECT_FALSE(IsOverlayWindow(onSecond, kScreen));
    EXPECT_TRUE(IsOverlayWindow(onSecond, twoScreens));
}

TEST(TallyOverlays, EachWindowOnceForAsLongAsItExists)
{
    struct Tick {
        std::vector<std::uint64_t> existing, overlays, reportedNow;
    };
    // Windows 1 and 2 on top, 3 an ordinary window; 2 leaves the top and
    // comes back (still the same window); 1 is closed, and a new window gets
    // its number again.
    const Tick ticks[] = {
        {{3}, {}, {}},
        {{1, 3}, {1}, {1}},
        {{1, 3}, {1}, {}},
        {{1, 2, 3}, {2, 1}, {2}},
        {{1, 2, 3}, {1}, {}},
        {{1, 2, 3}, {1, 2}, {}},
        {{2, 3}, {2}, {}},
        {{1, 2, 3}, {1, 2}, {1}},
        {{1, 2, 3, 4, 5}, {5, 4, 1, 2}, {5, 4}},
        {{}, {}, {}},
        {{2}, {2}, {2}},
    };
    std::vector<std::uint64_t> reported;
    int n = 0;
    for (const Tick& t : ticks) {
        SCOPED_TRACE(::testing::Message() << "tick " << n++);
        const OverlayTally tally = TallyOverlays(reported, t.existing, t.overlays);
        EXPECT_EQ(tally.toReport, t.reportedNow);
        reported = tally.reported;
        for (const std::uint64_t id : reported)
            EXPECT_NE(std::find(t.existing.begin(), t.existing.end(), id), t.existing.end())
                << "remembers only windows that exist: " << id;
    }
}

}  // namespace
