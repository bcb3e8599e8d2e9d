// The keyboard during an exam, seen from another program's window: which
// strokes reach it, before, during and after an exam.
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
    {"Esc", {VK_ESCAPE}, {}},
    {"Tab", {VK_TAB}, {}},
    {"F4", {VK_F4}, {}},
    {"F5", {VK_F5}, {}},
    {"Ctrl+P", {VK_CONTROL, 'P'}, {}},
    {"Alt+P", {VK_MENU, 'P'}, {}},
    {"Shift+A", {VK_SHIFT, 'A'}, {}},
    {"Alt alone", {VK_MENU}, {}},
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

}  // namespace
