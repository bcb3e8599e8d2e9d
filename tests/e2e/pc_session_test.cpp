// What the PC itself does during an exam: a second screen, and Windows
// ending the session (sign-out or shut-down). Run in a stage of their own:
// its display has two screens, and the end of the session ends every program
// of the wineserver, so the test that asks for it comes last.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

class PcSession : public KioskTest {};

const char kScreens[] = "Lebih dari satu layar terhubung ke PC ujian";

TEST_F(PcSession, TwoScreensAreReportedOnceAtTheStartAndAgainOnlyWhenOneMoreComes)
{
    ASSERT_EQ(GetSystemMetrics(SM_CMONITORS), 2) << "this stage's display has two screens";
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, Violation(1, kScreens)})) << "after START";
    // A change of the display with the same two screens (a resolution) is
    // not reported again; the next report, a lock, shows that nothing came
    // between.
    SendMessageTimeoutW(app.main, WM_DISPLAYCHANGE, 32, MAKELPARAM(1366, 768), SMTO_ABORTIFHUNG, 5000, nullptr);
    PostMessageW(app.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_EQ(EventsOnceThereAre(3),
              (std::vector<Event>{kStartEvent, Violation(1, kScreens),
                                  Violation(2, "Layar dikunci atau pengguna Windows diganti selama ujian")}));
    EXPECT_TRUE(browser::IsRunning(exam.browserPid)) << "the exam goes on";
}

// Windows asks each program whether it may end the session, then tells it
// that it ends, then ends it. The report reaches the server before the
// program is gone, and no "program closed" report follows. (This process has
// no window while the session ends: a window that does not answer would hold
// the end up.)
TEST_F(PcSession, TheEndOfTheWindowsSessionIsReportedBeforeTheProgramEnds)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    ASSERT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, Violation(1, kScreens)}));

    PROCESS_INFORMATION end{};
    ASSERT_TRUE(driver::StartProgram(L"wineboot.exe --end-session", end));
    EXPECT_EQ(WaitForSingleObject(end.hProcess, 60000), WAIT_OBJECT_0) << "the end of the session is through";
    CloseHandle(end.hProcess);
    CloseHandle(end.hThread);

    EXPECT_NE(driver::WaitForExit(app, 15000), -1) << "the program has ended";
    CloseHandle(app.pi.hProcess);
    CloseHandle(app.pi.hThread);
    app.pi = {};  // nothing left to close
    const auto events = Events();
    EXPECT_EQ(events, (std::vector<Event>{kStartEvent, Violation(1, kScreens),
                                          Violation(2, "PC dimatikan atau pengguna keluar dari Windows selama ujian")}))
        << "reported once, before the end, and no closing report";
    EXPECT_NE(ExitCode(exam), -1) << "the browser has ended";
}

}  // namespace
