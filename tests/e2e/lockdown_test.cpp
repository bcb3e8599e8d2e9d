// The keyboard and the mouse during an exam, seen from another program's
// window: which strokes and clicks reach it, before, during and after an exam. (The launch keys of
// multimedia keyboards never reach a window under Wine; the unit tests cover
// them.)
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <set>

using namespace e2e;

namespace {

class Lockdown : public KioskTest {};

struct Row {
    const char* what;
    std::initializer_list<WORD> chord;
    std::set<WORD> swallowed;  // during an exam
};

const Row kRows[] = {
    // Ways out to the system.
    {"Alt+Tab", {VK_MENU, VK_TAB}, {VK_TAB}},
    {"Alt+Shift+Tab", {VK_MENU, VK_SHIFT, VK_TAB}, {VK_TAB}},
    {"Alt+Esc", {VK_MENU, VK_ESCAPE}, {VK_ESCAPE}},
    {"Alt+F4", {VK_MENU, VK_F4}, {VK_F4}},
    {"Ctrl+Esc", {VK_CONTROL, VK_ESCAPE}, {VK_ESCAPE}},
    {"Ctrl+Shift+Esc", {VK_CONTROL, VK_SHIFT, VK_ESCAPE}, {VK_ESCAPE}},
    {"Ctrl+Alt+Esc", {VK_CONTROL, VK_MENU, VK_ESCAPE}, {VK_ESCAPE}},
    {"left Windows key", {VK_LWIN}, {VK_LWIN}},
    {"right Windows key", {VK_RWIN}, {VK_RWIN}},
    {"Windows+D", {VK_LWIN, 'D'}, {VK_LWIN}},
    {"PrintScreen", {VK_SNAPSHOT}, {VK_SNAPSHOT}},
    {"Alt+PrintScreen", {VK_MENU, VK_SNAPSHOT}, {VK_SNAPSHOT}},
    {"F11", {VK_F11}, {VK_F11}},
    {"Shift+F12", {VK_SHIFT, VK_F12}, {VK_F12}},
    // The browser's own ways out: closing it, new windows and tabs, files,
    // developer tools, printing and saving, its screen capture and side
    // panel, help, the window and context menus.
    {"Ctrl+W", {VK_CONTROL, 'W'}, {'W'}},
    {"Ctrl+Shift+W", {VK_CONTROL, VK_SHIFT, 'W'}, {'W'}},
    {"Ctrl+F4", {VK_CONTROL, VK_F4}, {VK_F4}},
    {"Ctrl+N", {VK_CONTROL, 'N'}, {'N'}},
    {"Ctrl+Shift+N", {VK_CONTROL, VK_SHIFT, 'N'}, {'N'}},
    {"Ctrl+T", {VK_CONTROL, 'T'}, {'T'}},
    {"Ctrl+O", {VK_CONTROL, 'O'}, {'O'}},
    {"Ctrl+Shift+I", {VK_CONTROL, VK_SHIFT, 'I'}, {'I'}},
    {"Ctrl+Shift+J", {VK_CONTROL, VK_SHIFT, 'J'}, {'J'}},
    {"Ctrl+P", {VK_CONTROL, 'P'}, {'P'}},
    {"Ctrl+S", {VK_CONTROL, 'S'}, {'S'}},
    {"Ctrl+Shift+S", {VK_CONTROL, VK_SHIFT, 'S'}, {'S'}},
    {"Ctrl+Shift+.", {VK_CONTROL, VK_SHIFT, VK_OEM_PERIOD}, {VK_OEM_PERIOD}},
    {"Ctrl+Shift+C, developer tools", {VK_CONTROL, VK_SHIFT, 'C'}, {'C'}},
    {"Ctrl+Shift+Delete, clearing data", {VK_CONTROL, VK_SHIFT, VK_DELETE}, {VK_DELETE}},
    {"Ctrl+Shift+A, tab search", {VK_CONTROL, VK_SHIFT, 'A'}, {'A'}},
    {"Shift+Esc, the browser's task manager", {VK_SHIFT, VK_ESCAPE}, {VK_ESCAPE}},
    {"Ctrl+Alt+T, a shortcut's hot key", {VK_CONTROL, VK_MENU, 'T'}, {'T'}},
    {"Ctrl+Alt+Q: no AltGr character on this layout", {VK_CONTROL, VK_MENU, 'Q'}, {'Q'}},
    {"Ctrl+Alt+F5", {VK_CONTROL, VK_MENU, VK_F5}, {VK_F5}},
    {"Alt+P", {VK_MENU, 'P'}, {'P'}},
    {"Alt+Space", {VK_MENU, VK_SPACE}, {VK_SPACE}},
    {"F1", {VK_F1}, {VK_F1}},
    {"Ctrl+F1", {VK_CONTROL, VK_F1}, {VK_F1}},
    {"F6", {VK_F6}, {VK_F6}},
    {"F7", {VK_F7}, {VK_F7}},
    {"F9", {VK_F9}, {VK_F9}},
    {"F10", {VK_F10}, {VK_F10}},
    {"Shift+F10", {VK_SHIFT, VK_F10}, {VK_F10}},
    {"the Apps key", {VK_APPS}, {VK_APPS}},
    // What a web form needs goes on.
    {"Esc", {VK_ESCAPE}, {}},
    {"Tab", {VK_TAB}, {}},
    {"F2", {VK_F2}, {}},
    {"F3", {VK_F3}, {}},
    {"F4", {VK_F4}, {}},
    {"F5", {VK_F5}, {}},
    {"Shift+A", {VK_SHIFT, 'A'}, {}},
    {"Alt alone", {VK_MENU}, {}},
    {"Ctrl+A", {VK_CONTROL, 'A'}, {}},
    {"Ctrl+C", {VK_CONTROL, 'C'}, {}},
    {"Ctrl+V", {VK_CONTROL, 'V'}, {}},
    {"Ctrl+X", {VK_CONTROL, 'X'}, {}},
    {"Ctrl+Shift+Z", {VK_CONTROL, VK_SHIFT, 'Z'}, {}},
    {"Ctrl+Shift+V", {VK_CONTROL, VK_SHIFT, 'V'}, {}},
    {"Ctrl+Shift+Left", {VK_CONTROL, VK_SHIFT, VK_LEFT}, {}},
    {"Ctrl+Shift+Home", {VK_CONTROL, VK_SHIFT, VK_HOME}, {}},
    {"Ctrl+Shift+plus", {VK_CONTROL, VK_SHIFT, VK_OEM_PLUS}, {}},
    {"Ctrl+Y", {VK_CONTROL, 'Y'}, {}},
    {"Ctrl+F", {VK_CONTROL, 'F'}, {}},
    {"Ctrl+Left", {VK_CONTROL, VK_LEFT}, {}},
    {"Ctrl+End", {VK_CONTROL, VK_END}, {}},
    {"Ctrl+Backspace", {VK_CONTROL, VK_BACK}, {}},
    {"Ctrl+Delete", {VK_CONTROL, VK_DELETE}, {}},
    {"Ctrl+Enter, a link in a new tab", {VK_CONTROL, VK_RETURN}, {VK_RETURN}},
    {"Shift+Enter, a link in a new window", {VK_SHIFT, VK_RETURN}, {VK_RETURN}},
    {"Enter", {VK_RETURN}, {}},
    {"Ctrl+Tab", {VK_CONTROL, VK_TAB}, {}},
    {"Ctrl+Shift+Tab", {VK_CONTROL, VK_SHIFT, VK_TAB}, {}},
    {"Ctrl+1", {VK_CONTROL, '1'}, {}},
    {"Ctrl+keypad 0", {VK_CONTROL, VK_NUMPAD0}, {}},
    {"Ctrl+plus", {VK_CONTROL, VK_OEM_PLUS}, {}},
    {"Ctrl+keypad minus", {VK_CONTROL, VK_SUBTRACT}, {}},
    {"Alt+Left", {VK_MENU, VK_LEFT}, {}},
    {"Alt+Down", {VK_MENU, VK_DOWN}, {}},
    {"Alt+keypad 6", {VK_MENU, VK_NUMPAD6}, {}},
};

// What the window must receive of a chord when `swallowed` keys are kept away.
std::vector<probe::KeyEvent> Expected(const Row& row, bool exam)
{
    std::vector<probe::KeyEvent> events;
    auto reaches = [&](WORD vk) { return !exam || !row.swallowed.contains(vk); };
    for (const WORD vk : row.chord)
        if (reaches(vk))
            events.push_back({true, vk});
    for (auto it = std::rbegin(row.chord); it != std::rend(row.chord); ++it)
        if (reaches(*it))
            events.push_back({false, *it});
    return events;
}

void ExpectKeys(probe::KeyProbe& other, bool exam)
{
    ASSERT_TRUE(driver::BringToFront(other.Window()));
    for (const Row& row : kRows) {
        const auto got = other.Deliver(driver::Chord(row.chord));
        EXPECT_EQ(probe::Describe(got), probe::Describe(Expected(row, exam))) << row.what << (exam ? " during" : " outside")
                                                                              << " an exam";
    }
}

TEST_F(Lockdown, OnlyTheWaysOutAreSwallowedAndOnlyDuringAnExam)
{
    probe::KeyProbe other;
    {
        SCOPED_TRACE("before the first exam");
        ExpectKeys(other, false);
    }
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    {
        SCOPED_TRACE("during the exam");
        ExpectKeys(other, true);
    }
    // Ended by the proctor, from the keyboard.
    ASSERT_NE(OpenPromptWithKeys(), nullptr);
    EnterPin(kPin);
    ExpectExamOver(exam);
    {
        SCOPED_TRACE("after the exam");
        ExpectKeys(other, false);
    }
}

// Mouse input at the pointer, with Ctrl or Shift keys around it.
struct MouseRow {
    const char* what;
    std::vector<INPUT> inputs;
    std::set<WORD> swallowed;  // during an exam
    std::set<WORD> pressKept = {};  // during an exam the key's press is kept, its release passes
};

INPUT Down(WORD vk) { return driver::KeyInput(vk, true); }
INPUT Up(WORD vk) { return driver::KeyInput(vk, false); }
INPUT Mouse(DWORD flags, DWORD data = 0) { return driver::MouseInput(flags, data); }

std::vector<MouseRow> MouseRows()
{
    const INPUT leftDown = Mouse(MOUSEEVENTF_LEFTDOWN), leftUp = Mouse(MOUSEEVENTF_LEFTUP);
    return {
        {"a right click", {Mouse(MOUSEEVENTF_RIGHTDOWN), Mouse(MOUSEEVENTF_RIGHTUP)}, {VK_RBUTTON}},
        {"a middle click", {Mouse(MOUSEEVENTF_MIDDLEDOWN), Mouse(MOUSEEVENTF_MIDDLEUP)}, {VK_MBUTTON}},
        {"the back button",
         {Mouse(MOUSEEVENTF_XDOWN, XBUTTON1), Mouse(MOUSEEVENTF_XUP, XBUTTON1)}, {VK_XBUTTON1}},
        {"the forward button",
         {Mouse(MOUSEEVENTF_XDOWN, XBUTTON2), Mouse(MOUSEEVENTF_XUP, XBUTTON2)}, {VK_XBUTTON2}},
        {"Ctrl+click", {Down(VK_CONTROL), leftDown, leftUp, Up(VK_CONTROL)}, {VK_LBUTTON}},
        {"Shift+click", {Down(VK_SHIFT), leftDown, leftUp, Up(VK_SHIFT)}, {VK_LBUTTON}},
        {"Ctrl+click, Ctrl let go before the button", {Down(VK_CONTROL), leftDown, Up(VK_CONTROL), leftUp},
         {VK_LBUTTON}},
        {"a left click", {leftDown, leftUp}, {}},
        // The browser reads the modifiers at the release: pressed after a
        // plain press, they are kept from it.
        {"a left click with Shift pressed before the release", {leftDown, Down(VK_SHIFT), leftUp, Up(VK_SHIFT)}, {},
         {VK_SHIFT}},
        {"a left click with Ctrl pressed before the release", {leftDown, Down(VK_CONTROL), leftUp, Up(VK_CONTROL)}, {},
         {VK_CONTROL}},
        {"a left click with Alt pressed before the release", {leftDown, Down(VK_MENU), leftUp, Up(VK_MENU)}, {},
         {VK_MENU}},
        {"Shift pressed and let go under a held left press", {leftDown, Down(VK_SHIFT), Up(VK_SHIFT), leftUp}, {},
         {VK_SHIFT}},
        {"the wheel", {Mouse(MOUSEEVENTF_WHEEL, static_cast<DWORD>(-WHEEL_DELTA))}, {}},
        {"Ctrl+wheel, zoom", {Down(VK_CONTROL), Mouse(MOUSEEVENTF_WHEEL, WHEEL_DELTA), Up(VK_CONTROL)}, {}},
    };
}

// What the window must receive of the inputs when `swallowed` is kept away.
std::vector<probe::KeyEvent> Expected(const MouseRow& row, bool exam)
{
    std::vector<probe::KeyEvent> events;
    for (const INPUT& in : row.inputs) {
        probe::KeyEvent e{};
        if (in.type == INPUT_KEYBOARD) {
            e = {!(in.ki.dwFlags & KEYEVENTF_KEYUP), in.ki.wVk};
        } else {
            const DWORD f = in.mi.dwFlags;
            const bool down = f & (MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_MIDDLEDOWN | MOUSEEVENTF_XDOWN);
            WORD button = probe::kWheel;
            if (f & (MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP))
                button = VK_LBUTTON;
            else if (f & (MOUSEEVENTF_RIGHTDOWN | MOUSEEVENTF_RIGHTUP))
                button = VK_RBUTTON;
            else if (f & (MOUSEEVENTF_MIDDLEDOWN | MOUSEEVENTF_MIDDLEUP))
                button = VK_MBUTTON;
            else if (f & (MOUSEEVENTF_XDOWN | MOUSEEVENTF_XUP))
                button = in.mi.mouseData == XBUTTON1 ? VK_XBUTTON1 : VK_XBUTTON2;
            e = {down || button == probe::kWheel, button};
        }
        if (!exam || (!row.swallowed.contains(e.vk) && !(e.down && row.pressKept.contains(e.vk))))
            events.push_back(e);
    }
    return events;
}

void ExpectClicks(probe::KeyProbe& other, bool exam)
{
    RECT r{};
    GetWindowRect(other.Window(), &r);
    ASSERT_TRUE(driver::MouseTo({(r.left + r.right) / 2, (r.top + r.bottom) / 2}));
    for (const MouseRow& row : MouseRows()) {
        // Each row from the front: a click that reached the window must not
        // leave the next row to Wine's handling of the focus that follows it.
        ASSERT_TRUE(driver::BringToFront(other.Window())) << row.what;
        const auto got = other.Deliver(row.inputs);
        const HWND front = GetForegroundWindow();
        EXPECT_EQ(probe::Describe(got), probe::Describe(Expected(row, exam)))
            << row.what << (exam ? " during" : " outside") << " an exam; in front: "
            << testing::PrintToString(driver::ClassOf(front)) << ", the pointer over "
            << testing::PrintToString(driver::ClassOf(WindowFromPoint({(r.left + r.right) / 2, (r.top + r.bottom) / 2})));
    }
}

TEST_F(Lockdown, TheMouseButtonsThatOpenMenusTabsAndWindowsAreSwallowedOnlyDuringAnExam)
{
    // During the exam the exam's browser is in front (no violation); before
    // and after it a window of the driver's.
    probe::KeyProbe other(probe::Kind::Dialog);
    // The start screen has handled the X focus it asked for at its start:
    // handled later, it would take the foreground from the window in front.
    driver::SettleDisplay(app.main);
    {
        SCOPED_TRACE("before the first exam");
        ExpectClicks(other, false);
    }
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    other.Follow(exam.browser);
    {
        SCOPED_TRACE("during the exam");
        ExpectClicks(other, true);
    }
    // Ended by the proctor with the bar's button: a plain left click.
    driver::ClickWindow(GetDlgItem(exam.bar, kBarProctor));
    ASSERT_NE(WaitForPrompt(), nullptr);
    EnterPin(kPin);
    ExpectExamOver(exam);
    {
        SCOPED_TRACE("after the exam");
        ExpectClicks(other, false);
    }
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kProctorFinishEvent})) << "no violation";
}

}  // namespace
