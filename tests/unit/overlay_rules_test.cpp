#include "kiosk/watch/overlay_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t kBrowserProcess = 400, kOtherProcess = 500, kHelperProcess = 600;
const ScreenRect kScreen{0, 0, 1366, 768};
const SystemPlaces kPlaces{"C:\\Windows", "C:\\Windows\\system32", "C:\\Program Files\\Common Files"};
const ScreenRect kExamWindow{0, 0, 1366, 768};

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
    w.owner.image = "C:\\Users\\siswa\\notes.exe";
    return w;
}

template <typename Change>
TopWindowFacts OnTop(Change change)
{
    TopWindowFacts w = OnTop();
    change(w);
    return w;
}

// A window of a system class, from the program at `image`.
TopWindowFacts SystemWindow(const char* cls, const char* image)
{
    return OnTop([&](auto& w) {
        w.className = cls;
        w.owner.image = image;
    });
}

// The exam's browser window, full screen.
TopWindowFacts ExamBrowser()
{
    return OnTop([](auto& w) {
        w.topmost = false;
        w.rect = {0, 0, 1366, 768};
        w.className = "Chrome_WidgetWin_1";
        w.owner.pid = kBrowserProcess;
    });
}

TEST(IsOverlayWindow, AnotherProgramsWindowOverTheExamCountsWhereTheSystemsOwnAndTheExamsDoNot)
{
    const char* explorer = "C:\\Windows\\explorer.exe";
    const char* osk = "C:\\Windows\\System32\\osk.exe";
    const char* tabtip = "C:\\Program Files\\Common Files\\microsoft shared\\ink\\TabTip.exe";
    const char* notes = "C:\\Users\\siswa\\AppData\\Local\\notes.exe";
    struct {
        const char* what;
        TopWindowFacts window;
        bool overlay;
    } const rows[] = {
        {"a calculator kept on top", OnTop(), true},
        {"not topmost (the order decides, not the flag)", OnTop([](auto& w) { w.topmost = false; }), true},
        {"hidden", OnTop([](auto& w) { w.visible = false; }), false},
        {"cloaked (another virtual desktop)", OnTop([](auto& w) { w.cloaked = true; }), false},
        {"in front: the switch is the watch's own report", OnTop([](auto& w) { w.inFront = true; }), false},
        {"32 x 32 exactly", OnTop([](auto& w) { w.rect = {10, 10, 42, 42}; }), true},
        {"40 x 40", OnTop([](auto& w) { w.rect = {10, 10, 50, 50}; }), true},
        {"31 across", OnTop([](auto& w) { w.rect = {10, 10, 41, 300}; }), false},
        {"31 down", OnTop([](auto& w) { w.rect = {10, 10, 300, 41}; }), false},
        {"20 x 20", OnTop([](auto& w) { w.rect = {10, 10, 30, 30}; }), false},
        {"mostly off the right edge, 31 left on it", OnTop([](auto& w) { w.rect = {1335, 100, 1735, 400}; }), false},
        {"mostly off the left edge, 32 left on it", OnTop([](auto& w) { w.rect = {-368, 100, 32, 400}; }), true},
        {"minimised, far off the screen", OnTop([](auto& w) { w.rect = {-32000, -32000, -31840, -31972}; }), false},
        {"bigger than the screen", OnTop([](auto& w) { w.rect = {-100, -100, 3000, 2000}; }), true},
        {"the taskbar of explorer.exe", SystemWindow("Shell_TrayWnd", explorer), false},
        {"the taskbar of explorer.exe in the system folder (Wine's)",
         SystemWindow("Shell_TrayWnd", "C:\\windows\\system32\\explorer.exe"), false},
        {"the second screen's taskbar", SystemWindow("Shell_SecondaryTrayWnd", "C:\\WINDOWS\\EXPLORER.EXE"), false},
        {"a taskbar of notes.exe", SystemWindow("Shell_TrayWnd", notes), true},
        {"a taskbar of an explorer.exe elsewhere", SystemWindow("Shell_TrayWnd", "C:\\Users\\siswa\\explorer.exe"), true},
        {"a taskbar whose program cannot be read", OnTop([](auto& w) { w.className = "Shell_TrayWnd"; w.owner.image.reset(); }),
         true},
        {"the on-screen keyboard", SystemWindow("OSKMainClass", osk), false},
        {"an on-screen keyboard of notes.exe", SystemWindow("OSKMainClass", notes), true},
        {"an osk.exe in the Windows folder", SystemWindow("OSKMainClass", "C:\\Windows\\osk.exe"), true},
        {"the touch keyboard", SystemWindow("IPTip_Main_Window", tabtip), false},
        {"a touch keyboard of notes.exe", SystemWindow("IPTip_Main_Window", notes), true},
        {"a touch keyboard of a TabTip.exe in the system folder", SystemWindow("IPTip_Main_Window", "C:\\Windows\\System32\\TabTip.exe"),
         true},
        {"a tooltip of a program in the Windows folder", SystemWindow("tooltips_class32", explorer), false},
        {"a menu of a program in the system folder", SystemWindow("#32768", "C:\\Windows\\System32\\notepad.exe"), false},
        {"an IME window of the system's", SystemWindow("IME", "C:\\Windows\\System32\\ctfmon.exe"), false},
        {"a text-input window of the system's", SystemWindow("MSCTFIME UI", "C:\\Windows\\System32\\ctfmon.exe"), false},
        {"a tooltip of notes.exe", SystemWindow("tooltips_class32", notes), true},
        {"a menu of a program in C:\\Windows\\Temp", SystemWindow("#32768", "C:\\Windows\\Temp\\notes.exe"), true},
        {"an IME window of a program whose path cannot be read",
         OnTop([](auto& w) { w.className = "IME"; w.owner.image.reset(); }), true},
        {"a tooltip of the exam's browser", OnTop([](auto& w) { w.className = "tooltips_class32"; w.owner.pid = kBrowserProcess; }),
         false},
        {"a menu of this program", OnTop([](auto& w) { w.className = "#32768"; w.owner.ownProcess = true; }), false},
        {"a system class name in other letter case", SystemWindow("shell_traywnd", notes), true},
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
        EXPECT_EQ(IsOverlayWindow(r.window, kScreen, kExamWindow, kPlaces), r.overlay) << r.what;
        // The owner is looked at whenever the window alone does not rule it out.
        if (r.overlay) {
            EXPECT_TRUE(OverlayNeedsOwnerLookup(r.window, kScreen)) << r.what;
        }
    }
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.visible = false; }), kScreen));
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.rect = {0, 0, 20, 20}; }), kScreen));
    EXPECT_FALSE(OverlayNeedsOwnerLookup(OnTop([](auto& w) { w.owner.pid = kBrowserProcess; }), kScreen));
    EXPECT_TRUE(OverlayNeedsOwnerLookup(SystemWindow("OSKMainClass", osk), kScreen)) << "the system's classes too";
    // Two screens side by side: a window on the second one is on the desktop.
    const ScreenRect twoScreens{0, 0, 1366 + 1280, 1024};
    const TopWindowFacts onSecond = OnTop([](auto& w) { w.rect = {1500, 600, 1800, 900}; });
    EXPECT_FALSE(IsOverlayWindow(onSecond, kScreen, kExamWindow, kPlaces));
    EXPECT_TRUE(IsOverlayWindow(onSecond, twoScreens, twoScreens, kPlaces));
    // Beside the exam's window, not over it.
    EXPECT_FALSE(IsOverlayWindow(onSecond, twoScreens, kExamWindow, kPlaces));
    EXPECT_FALSE(IsOverlayWindow(OnTop([](auto& w) { w.rect = {1366, 0, 1566, 200}; }), twoScreens, kExamWindow, kPlaces))
        << "touching its edge is not over it";
}

// The windows in the system's order, front first: which are over the exam.
TEST(WindowsOverExam, AboveTheExamsWindowInTheOrderTopmostOrNot)
{
    const TopWindowFacts browser = ExamBrowser();
    const TopWindowFacts plain = OnTop([](auto& w) { w.topmost = false; });
    const TopWindowFacts small = OnTop([](auto& w) { w.rect = {0, 0, 20, 20}; });
    const TopWindowFacts helperOfJob =
        OnTop([](auto& w) { w.topmost = false; w.owner.pid = kHelperProcess; w.owner.inExamJob = true; w.rect = {200, 150, 600, 450}; });
    const TopWindowFacts bar = OnTop([](auto& w) { w.owner.ownProcess = true; w.rect = {0, 0, 1366, 768}; });
    struct {
        const char* what;
        std::vector<TopWindowFacts> order;
        std::vector<std::size_t> over;
    } const rows[] = {
        {"the browser alone", {browser}, {}},
        {"a plain window above it", {plain, browser}, {0}},
        {"a plain window below it", {browser, plain}, {}},
        {"a topmost one and a plain one above, a small one", {OnTop(), small, plain, browser}, {0, 2}},
        {"above a helper of the exam, above the browser too", {plain, helperOfJob, browser}, {0}},
        {"between a helper of the exam and the browser", {helperOfJob, plain, browser}, {1}},
        {"the bar over everything: this program's, never the exam's window", {bar, plain, browser}, {1}},
        {"no window of the exam shows: the topmost ones over the screen", {OnTop(), plain}, {0}},
        {"the browser hidden: as without one", {OnTop(), plain, OnTop([&](auto& w) { w = browser; w.visible = false; })}, {0}},
        {"the foreground one above the browser", {OnTop([](auto& w) { w.inFront = true; w.topmost = false; }), browser}, {}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(WindowsOverExam(r.order, kScreen, kPlaces), r.over) << r.what;

    // The exam's window is its largest one: a helper's small window in front
    // of it does not make the windows between them count as below.
    const std::vector<TopWindowFacts> order{helperOfJob, plain, browser};
    EXPECT_EQ(ExamWindowIndex(order, kScreen), std::optional<std::size_t>(2));
    EXPECT_EQ(ExamWindowIndex({plain, OnTop()}, kScreen), std::nullopt);
    // Of two equal ones (a relaunched browser's and its predecessor's), the front one.
    const TopWindowFacts successor = OnTop([&](auto& w) { w = browser; w.owner.pid = kHelperProcess; w.owner.inExamJob = true; });
    EXPECT_EQ(ExamWindowIndex({plain, successor, browser}, kScreen), std::optional<std::size_t>(1));
}

TEST(TallyOverlays, EachWindowOnceOnItsSecondTickForAsLongAsItExists)
{
    struct Tick {
        std::vector<std::uint64_t> existing, overlays, reportedNow;
    };
    // Windows 1 and 2 over the exam, 3 an ordinary window; 6 counts for one
    // tick only (the order passing through a state for a moment); 2 leaves
    // and comes back (still the same window, already reported); 1 is
    // closed, and a new window gets its number again.
    const Tick ticks[] = {
        {{3}, {}, {}},
        {{1, 3}, {1}, {}},
        {{1, 3}, {1}, {1}},
        {{1, 3}, {1}, {}},
        {{1, 3, 6}, {6}, {}},
        {{1, 3, 6}, {}, {}},
        {{1, 3, 6}, {6}, {}},
        {{1, 2, 3}, {2, 1}, {}},
        {{1, 2, 3}, {2, 1}, {2}},
        {{1, 2, 3}, {1}, {}},
        {{1, 2, 3}, {1, 2}, {}},
        {{2, 3}, {2}, {}},
        {{1, 2, 3}, {1, 2}, {}},
        {{1, 2, 3, 4, 5}, {5, 4, 1, 2}, {1}},
        {{1, 2, 3, 4, 5}, {5, 4, 1, 2}, {5, 4}},
        {{}, {}, {}},
        {{2}, {2}, {}},
        {{2}, {2}, {2}},
    };
    std::vector<std::uint64_t> reported, seen;
    int n = 0;
    for (const Tick& t : ticks) {
        SCOPED_TRACE(::testing::Message() << "tick " << n++);
        const OverlayTally tally = TallyOverlays(reported, seen, t.existing, t.overlays);
        EXPECT_EQ(tally.toReport, t.reportedNow);
        reported = tally.reported;
        seen = tally.seen;
        for (const std::uint64_t id : reported)
            EXPECT_NE(std::find(t.existing.begin(), t.existing.end(), id), t.existing.end())
                << "remembers only windows that exist: " << id;
        for (const std::uint64_t id : seen)
            EXPECT_NE(std::find(t.overlays.begin(), t.overlays.end(), id), t.overlays.end())
                << "a first sight is only of a window counting now: " << id;
    }
}

}  // namespace
