// Long runs: forty exams in one run of the program, and floods of keys and mouse events.
// They print their figures; what they assert is what must never change.
#include "kiosk_fixture.h"
#include "process_census.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace e2e;

namespace {

class Soak : public KioskTest {
protected:
    // Ends the exam by one of the four roads.
    void EndBy(int road, const Exam& exam)
    {
        switch (road) {
        case 0:  // the student finishes
            PressFinishAndYes(exam);
            EXPECT_NE(TakeBox(L"ORVEL SELVARO"), L"<no box>");
            break;
        case 1:  // the proctor, through the bar
            driver::ClickWindow(GetDlgItem(exam.bar, kBarProctor));
            ASSERT_NE(WaitForPrompt(), nullptr);
            EnterPin(kPin);
            break;
        case 2:  // the proctor, with Ctrl+Alt+P
            ASSERT_NE(OpenPromptWithKeys(), nullptr);
            EnterPin(kPin);
            break;
        default:  // the browser closes, which is reported
            PostMessageW(exam.browser, WM_APP + 7, 0, 0);
            break;
        }
        EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(exam.bar) && IsWindowVisible(app.main); }, 10000));
    }
    // Sends inputs in batches of about 200, each part made by `next(inputs,
    // expected)`, until `total` events have gone, checking that exactly the
    // expected ones reach the window, in order. Milliseconds per event, or
    // -1 on the first batch that differs.
    template <typename Next>
    static double Flood(probe::KeyProbe& window, std::size_t total, Next next)
    {
        std::size_t sent = 0;
        const ULONGLONG begin = GetTickCount64();
        while (sent < total) {
            std::vector<INPUT> batch;
            std::vector<probe::KeyEvent> expected;
            while (batch.size() < 200 && sent + batch.size() < total)
                next(batch, expected);
            sent += batch.size();
            const auto got = window.Deliver(batch, 20000);
            if (got != expected) {
                ADD_FAILURE() << "after " << sent << " events: " << testing::PrintToString(probe::Describe(got));
                return -1.0;
            }
        }
        return static_cast<double>(GetTickCount64() - begin) / static_cast<double>(sent);
    }
    struct FloodFigures {
        double idle = -1.0, locked = -1.0;  // milliseconds per event
    };
    // `flood(exam, total)` with no exam, then during one, with `other` in
    // front each time (during the exam the exam's browser, when
    // `intoTheBrowser`); then the proctor ends the exam with Ctrl+Alt+P and
    // the PIN, which the program must still answer at once.
    template <typename FloodOf>
    FloodFigures FloodWithoutAndDuringAnExam(probe::KeyProbe& other, FloodOf flood, bool intoTheBrowser = false)
    {
        FloodFigures figures;
        if (!driver::BringToFront(other.Window())) {
            ADD_FAILURE() << "the flood's window cannot come to the front";
            return figures;
        }
        figures.idle = flood(false, 2000);
        const Exam exam = StartExam();
        if (!exam.bar) {
            ADD_FAILURE() << "no exam started";
            return figures;
        }
        if (intoTheBrowser)
            other.Follow(exam.browser);
        EXPECT_TRUE(driver::BringToFront(other.Window()));
        figures.locked = flood(true, 10000);
        if (!OpenPromptWithKeys()) {
            ADD_FAILURE() << "the proctor's prompt did not open after the flood";
            return figures;
        }
        EnterPin(kPin);
        EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(exam.bar) && IsWindowVisible(app.main); }, 5000));
        return figures;
    }
    // Once every report of the exam is answered and what the program holds
    // has stopped changing (a worker ending, Wine's own short-lived handles).
    census::Census Settled()
    {
        EXPECT_TRUE(driver::WaitFor([] { return server::AnsweredCount() == server::Requests().size(); }, 20000));
        // The start screen came back: its painting (the picture scaled by
        // GDI+) holds several megabytes while it runs. UpdateWindow returns
        // once the program has painted it.
        UpdateWindow(app.main);
        census::Census last = census::Take(pid);
        driver::WaitFor([&] {
            const census::Census now = census::Take(pid);
            const bool steady = now.handles == last.handles && now.windows == last.windows &&
                                now.threads == last.threads && now.committedBytes == last.committedBytes;
            last = now;
            return steady;
        }, 5000);
        return last;
    }
};

// Forty exams, ten by each road out, in one run of the program. A leak of one
// handle per exam would show thirty between the tenth and the fortieth; a
// handle the system makes once, late, shows one.
TEST_F(Soak, FortyExamsInOneRunLeaveNothingBehind)
{
    probe::KeyProbe other;
    printf("soak: at start  %s\n", census::Take(pid).Describe().c_str());
    census::Census at10, at40;
    std::size_t starts = 0, violations = 0, finishes = 0, proctorEnds = 0, closed = 0;
    for (int i = 1; i <= 40; ++i) {
        SCOPED_TRACE(i);
        const Exam exam = StartExam();
        ASSERT_NE(exam.bar, nullptr);
        ++starts;
        ASSERT_TRUE(driver::BringToFront(other.Window()));
        ASSERT_TRUE(driver::WaitFor([&] { return Count(Violation(1)) == violations + 1; }, 5000)) << "one violation";
        ++violations;
        // Back to the exam: left above the browser while the bar or the
        // prompt has the front, the driver's window would be a window over
        // the exam, and reported as such.
        ASSERT_TRUE(driver::BringToFront(exam.browser));
        const int road = (i - 1) % 4;
        EndBy(road, exam);
        if (HasFatalFailure())
            return;
        finishes += road == 0;
        proctorEnds += road == 1 || road == 2;
        closed += road == 3;
        if (i % 10 == 0) {
            const census::Census now = Settled();
            printf("soak: exam %3d  %s\n", i, now.Describe().c_str());
            if (i == 10)
                at10 = now;
            at40 = now;
        }
    }
    EXPECT_EQ(at40.windows, at10.windows);
    EXPECT_EQ(at40.threads, at10.threads);
    EXPECT_LE(at40.handles, at10.handles + 2);
    EXPECT_GT(at40.committedBytes, 0u) << "memory could not be read";
    // Scaled as the handles: a leak of 17 KB an exam would show.
    EXPECT_LE(at40.committedBytes, at10.committedBytes + (512u << 10));

    // Exactly the reports of forty exams, nothing else, once the program has
    // ended (its end waits for them).
    const auto events = EventsOnceEnded();
    const auto count = [&](const Event& e) { return static_cast<std::size_t>(std::count(events.begin(), events.end(), e)); };
    EXPECT_EQ(count(kStartEvent), starts);
    EXPECT_EQ(count(Violation(1)), violations);
    EXPECT_EQ(count(kFinishEvent), finishes);
    EXPECT_EQ(count(kProctorFinishEvent), proctorEnds);
    EXPECT_EQ(count(BrowserClosed(2)), closed);
    std::string others;
    for (const Event& e : events)
        if (!(e == kStartEvent || e == Violation(1) || e == kFinishEvent || e == kProctorFinishEvent ||
              e == BrowserClosed(2)))
            others += "\n  " + e.event + " " + e.detail;
    EXPECT_EQ(events.size(), starts + violations + finishes + proctorEnds + closed) << "besides those:" << others;
    EXPECT_TRUE(driver::WaitFor([] { return census::ProcessesNamed(L"msedge.exe") == 0; }, 5000))
        << "no browser left behind";
}

TEST_F(Soak, TenThousandKeysAreSortedExactlyAndTheProgramStaysResponsive)
{
    probe::KeyProbe other;
    struct Stroke {
        std::initializer_list<WORD> chord;
        std::initializer_list<WORD> swallowed;
    };
    const Stroke mix[] = {
        {{'A'}, {}}, {{VK_MENU, VK_TAB}, {VK_TAB}}, {{'B'}, {}}, {{VK_LWIN}, {VK_LWIN}},
        {{VK_SHIFT, 'C'}, {}}, {{VK_F11}, {VK_F11}}, {{VK_F5}, {}}, {{VK_CONTROL, VK_ESCAPE}, {VK_ESCAPE}},
        {{VK_TAB}, {}}, {{VK_SNAPSHOT}, {VK_SNAPSHOT}}, {{VK_ESCAPE}, {}}, {{VK_MENU, VK_F4}, {VK_F4}},
        {{'7'}, {}}, {{VK_F12}, {VK_F12}},
    };
    auto flood = [&](bool exam, std::size_t total) {
        std::size_t k = 0;
        return Flood(other, total, [&](std::vector<INPUT>& batch, std::vector<probe::KeyEvent>& expected) {
            const Stroke& s = mix[k++ % std::size(mix)];
            for (const INPUT& in : driver::Chord(s.chord)) {
                batch.push_back(in);
                const WORD vk = in.ki.wVk;
                const bool swallowed =
                    exam && std::find(s.swallowed.begin(), s.swallowed.end(), vk) != s.swallowed.end();
                if (!swallowed)
                    expected.push_back({!(in.ki.dwFlags & KEYEVENTF_KEYUP), vk});
            }
        });
    };

    const FloodFigures f = FloodWithoutAndDuringAnExam(other, flood);
    printf("key flood: %.3f ms per key event with no exam, %.3f ms during an exam (10000 events)\n", f.idle,
           f.locked);
}

// Mouse events in thousands, moves above all, as a hand on a mouse makes them:
// exactly the clicks and turns that may pass arrive, and what the hook costs
// per event shows beside the same flood with no exam.
TEST_F(Soak, TenThousandMouseEventsAreSortedExactlyAndTheProgramStaysResponsive)
{
    probe::KeyProbe other(probe::Kind::Dialog);  // during the exam, the exam's browser: no violation
    driver::SettleDisplay(app.main);
    RECT r{};
    GetWindowRect(other.Window(), &r);
    // X's pointer inside the window too: the browser mapped under it would
    // otherwise bring its place back in the middle of the flood.
    ASSERT_TRUE(driver::MouseTo({(r.left + r.right) / 2, (r.top + r.bottom) / 2}));
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    // Absolute moves between points inside the window.
    const auto move = [&](int i) {
        const int x = r.left + 40 + (i * 37) % (r.right - r.left - 80), y = r.top + 60 + (i * 23) % (r.bottom - r.top - 90);
        INPUT in = driver::MouseInput(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE);
        in.mi.dx = (x * 65536 + sw - 1) / sw;
        in.mi.dy = (y * 65536 + sh - 1) / sh;
        return in;
    };
    struct Click {
        DWORD down, up;
        WORD button;
        bool swallowed;  // during an exam
    };
    const Click clicks[] = {
        {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, VK_LBUTTON, false},
        {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, VK_RBUTTON, true},
        {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP, VK_MBUTTON, true},
    };
    auto flood = [&](bool exam, std::size_t total) {
        std::size_t k = 0;
        return Flood(other, total, [&](std::vector<INPUT>& batch, std::vector<probe::KeyEvent>& expected) {
            ++k;
            for (int m = 0; m < 8; ++m)  // mostly moves
                batch.push_back(move(static_cast<int>(k * 8 + m)));
            if (k % 4 == 0) {
                batch.push_back(driver::MouseInput(MOUSEEVENTF_WHEEL, WHEEL_DELTA));
                expected.push_back({true, probe::kWheel});
                return;
            }
            const Click& c = clicks[k % std::size(clicks)];
            batch.push_back(driver::MouseInput(c.down));
            batch.push_back(driver::MouseInput(c.up));
            if (!(exam && c.swallowed)) {
                expected.push_back({true, c.button});
                expected.push_back({false, c.button});
            }
        });
    };

    const FloodFigures f = FloodWithoutAndDuringAnExam(other, flood, true);
    printf("mouse flood: %.3f ms per mouse event with no exam, %.3f ms during an exam (10000 events, about 4 in 5 of them moves)\n",
           f.idle, f.locked);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kProctorFinishEvent})) << "no violation";
}

}  // namespace
