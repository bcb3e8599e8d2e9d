// The once-a-second watch: which windows in front count as leaving the exam,
// how often they are reported, and the bar kept on top.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

class Watch : public KioskTest {
protected:
    // Starts the stand-in browser from `path` as another program would.
    DWORD StartOtherProgram(const std::wstring& path)
    {
        PROCESS_INFORMATION pi{};
        if (!driver::StartProgram(L"\"" + path + L"\" --other-program", pi))
            return 0;
        others_.push_back(pi.hProcess);
        CloseHandle(pi.hThread);
        return pi.dwProcessId;
    }
    void TearDown() override
    {
        for (HANDLE p : others_) {
            TerminateProcess(p, 0);
            WaitForSingleObject(p, 5000);
            CloseHandle(p);
        }
        KioskTest::TearDown();
    }
    std::vector<Event> Violations() const
    {
        std::vector<Event> v;
        for (const auto& e : Events())
            if (e.event == "VIOLATION")
                v.push_back(e);
        return v;
    }

    std::vector<HANDLE> others_;
};

// The exam's browser shows a window of a class of its own (a panel, a dialog
// of its own): any window of the launched process belongs to the exam.
class WatchBrowserPanel : public Watch {
protected:
    void SetUp() override
    {
        // In the program's environment only: it hands it on to the browser
        // it starts, while programs the driver starts keep the usual class.
        SetEnvironmentVariableW(L"ORVEL_STANDIN_CLASS", kPanelClass);
        browserClass_ = kPanelClass;
        Watch::SetUp();
        SetEnvironmentVariableW(L"ORVEL_STANDIN_CLASS", nullptr);
    }
    static constexpr wchar_t kPanelClass[] = L"OrvelBrowserPanel";
};

TEST_F(Watch, AForeignWindowIsReportedAtOnceThenAtMostEveryFiveSeconds)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    // A whole tick with the exam's browser in front reports nothing.
    ASSERT_TRUE(WaitForWatchTick(exam));
    ASSERT_EQ(EventsThroughAMarker(), (std::vector<Event>{kStartEvent, SessionLocked(1)}));
    // Made only now: a window of the driver's behind the browser would be
    // above it once the tick's cover is raised (Wine raises the driver's
    // other windows with it: seen so), which is a window over the exam.
    probe::KeyProbe other;
    ASSERT_TRUE(driver::BringToFront(other.Window()));
    const ULONGLONG inFront = GetTickCount64();

    // The watch's first two reports, and when each arrived.
    std::vector<ULONGLONG> arrivals;
    ASSERT_TRUE(driver::WaitFor([&] {
        const std::size_t all = Violations().size(), n = all > 0 ? all - 1 : 0;  // after the marker
        while (arrivals.size() < n)
            arrivals.push_back(GetTickCount64());
        return n >= 2;
    }, 10000));
    EXPECT_EQ(Violations(), (std::vector<Event>{SessionLocked(1), Violation(2), Violation(3)}))
        << "numbered on without gaps";
    EXPECT_LT(arrivals[0] - inFront, 2500u) << "the first at the next tick";
    // The program spaces them by more than 5000 ms on its own ticks (the
    // session test holds it to that); here a report's trip to the server,
    // which varies, comes on top, so the arrivals are held only near it.
    EXPECT_GT(arrivals[1] - arrivals[0], 4500u);
    EXPECT_LT(arrivals[1] - arrivals[0], 7500u);
    EXPECT_TRUE(browser::IsRunning(exam.browserPid)) << "the exam goes on";
}

TEST_F(WatchBrowserPanel, TheExamsWindowsDoNotCountOtherEngineProgramsDo)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    ASSERT_EQ(driver::ClassOf(exam.browser), kPanelClass);
    // The exam's own browser, in front with a window of another class. Each
    // tick puts the bar back above another topmost window, neither moving
    // nor sizing nor activating it.
    RECT before{}, after{};
    GetWindowRect(exam.bar, &before);
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    ASSERT_TRUE(WaitForWatchTick(exam));
    GetWindowRect(exam.bar, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(GetForegroundWindow(), exam.browser);

    // The bar itself.
    ASSERT_TRUE(driver::BringToFront(exam.bar));
    ASSERT_TRUE(WaitForWatchTick(exam));
    // None of them was reported: a wrongly counted one would come before the
    // marker, and would also hold back the report below by its spacing.
    EXPECT_EQ(EventsThroughAMarker(), (std::vector<Event>{kStartEvent, SessionLocked(1)}));

    // A program of the same engine (same window class) from anywhere else.
    const DWORD chat = StartOtherProgram(driver::BuildFile(L"tests\\standin\\browser-standin.exe"));
    HWND chatWindow = browser::WaitForWindow(chat, 10000);
    ASSERT_NE(chatWindow, nullptr);
    ASSERT_TRUE(driver::BringToFront(chatWindow));
    EXPECT_EQ(EventsOnceThereAre(3), (std::vector<Event>{kStartEvent, SessionLocked(1), Violation(2)}));
}

// A normal browser window, not the exam's (Edge often runs in the
// background): a copy of the browser started from the very path the exam's
// came from, outside the exam's job.
TEST_F(Watch, ABrowserWindowOutsideTheExamIsReportedWhateverItsInstallPath)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    const DWORD edge = StartOtherProgram(browser::PathOf(browser::kEdge));
    HWND edgeWindow = browser::WaitForWindow(edge, 10000);
    ASSERT_NE(edgeWindow, nullptr);
    ASSERT_EQ(driver::ClassOf(edgeWindow), L"Chrome_WidgetWin_1");
    ASSERT_TRUE(driver::BringToFront(edgeWindow));
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, Violation(1)}));
    EXPECT_TRUE(browser::IsRunning(exam.browserPid)) << "the exam goes on";
}

// What Windows tells the start screen about the session: the screen locked,
// the console handed to another user or a remote session cut are reported
// apart from the watch's spacing; coming back is not, nor anything outside an
// exam. (Wine never sends these itself: the test posts them, as Windows would.)
TEST_F(Watch, ALockOrASwitchOfUserIsReportedAnUnlockIsNot)
{
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    const Event left1 = Violation(1, "Layar dikunci atau pengguna Windows diganti selama ujian");
    const Event left2 = Violation(2, "Layar dikunci atau pengguna Windows diganti selama ujian");
    const Event left3 = Violation(3, "Layar dikunci atau pengguna Windows diganti selama ujian");
    for (const WPARAM code : {WTS_SESSION_LOCK, WTS_CONSOLE_DISCONNECT, WTS_SESSION_UNLOCK, WTS_CONSOLE_CONNECT,
                              WTS_REMOTE_DISCONNECT})
        PostMessageW(app.main, WM_WTSSESSION_CHANGE, code, 0);
    // The third report, made after the unlock and the connect, shows that
    // they made none: reports arrive in the order they were made.
    EXPECT_EQ(EventsOnceThereAre(4), (std::vector<Event>{kStartEvent, left1, left2, left3}));

    ASSERT_NE(OpenPromptWithKeys(), nullptr);
    EnterPin(kPin);
    ExpectExamOver(exam);
    // Outside an exam: nothing. The program's end waits for what it queued.
    PostMessageW(app.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, left1, left2, left3, kProctorFinishEvent}));
}

}  // namespace
