// Another program can post the program's own message numbers to its windows
// (WM_VERIFY_RESULT 1025, WM_PROCTOR_EXIT 1026), and send it the system's
// end of the session.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace e2e;

namespace {

constexpr UINT kVerifyResult = WM_USER + 1, kProctorExit = WM_USER + 2;

class ForgedMessages : public KioskTest {
protected:
    void Forge(UINT message, WPARAM w, LPARAM l) const { PostMessageW(app.main, message, w, l); }
    void ForgeAll() const
    {
        Forge(kVerifyResult, 1, static_cast<LPARAM>(0x7FFE12345670));
        Forge(kVerifyResult, 1, 0);
        Forge(kVerifyResult, 0, -1);
        Forge(kProctorExit, 0, 0);
    }
};

TEST_F(ForgedMessages, AreIgnoredWhenNothingAwaitsThemAndDuringAVerification)
{
    // Idle: nothing at all happens.
    ForgeAll();
    SyncThroughRulesBox();  // handled in order: the forged ones came first
    EXPECT_TRUE(StartButtonIdle());
    EXPECT_TRUE(browser::Launches().empty());
    EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr);

    // While a verification waits for a slow server: the button stays waiting.
    server::Answer slow;
    slow.body = R"({"ok":true,"formUrl":"https://localhost/demo/form","proctorPin":"2468"})";
    slow.holdUntil = "release-forged";
    server::SetAnswers({{"/api/exam/verify", slow}});
    FillAndStart(L"Budi Santoso", L"5A", L"ABC123");
    ASSERT_TRUE(driver::WaitFor([&] { return !IsWindowEnabled(Item(kStart)); }, 3000));
    ASSERT_EQ(server::WaitForRequests("/api/exam/verify", 1, 5000).size(), 1u);
    ForgeAll();
    Click(kStart);  // a click on the disabled button, posted: no second verification
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_FALSE(IsWindowEnabled(Item(kStart))) << "still waiting for the real answer";
    EXPECT_TRUE(browser::Launches().empty());

    // The real answer still starts the exam, once.
    server::Release("release-forged");
    const auto launches = browser::WaitForLaunches(1, 10000);
    ASSERT_EQ(launches.size(), 1u);
    HWND bar = driver::WaitForTopWindow(pid, L"CBTControlBar", nullptr, 10000);
    ASSERT_NE(bar, nullptr);

    // During the exam a forged result or start press changes nothing either.
    Forge(kVerifyResult, 1, static_cast<LPARAM>(0x7FFE12345670));
    PostMessageW(app.main, WM_COMMAND, kStart, 0);
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_TRUE(StartButtonIdle()) << "no verification started";
    EXPECT_EQ(browser::Launches().size(), 1u) << "no second browser";
    EXPECT_TRUE(IsWindow(bar));
    // START goes out on the sender thread, after the bar shows, and a
    // verification on a worker of its own: both counted once the program has
    // ended (which waits for its reports), when no worker of it can send more.
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, AppClosed(1)})) << "one START, then the close";
    EXPECT_EQ(server::RequestsTo("/api/exam/verify").size(), 1u) << "no second verification";
}

// WM_QUERYENDSESSION and WM_ENDSESSION(TRUE) sent by another program arrive
// as Windows' own do: reported as the end of the session, but the exam stays
// (Windows ends the program itself when the session really ends), and 10 s
// later the program, still running, reports the message as forged.
TEST_F(ForgedMessages, AForgedEndOfTheSessionIsReportedAsSuchAndTheExamGoesOn)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(app.main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the program never holds Windows back";
    ASSERT_TRUE(SendMessageTimeoutW(app.main, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    const ULONGLONG endedAt = GetTickCount64();
    const Event ending = Violation(1, "PC dimatikan atau pengguna keluar dari Windows selama ujian");
    const Event forged = Violation(2, "Pesan palsu ke aplikasi ujian: Windows tidak sedang dimatikan");
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, ending})) << "delivered before the answer";
    EXPECT_TRUE(IsWindow(exam.bar)) << "the exam stays";
    EXPECT_TRUE(browser::IsRunning(exam.browserPid));
    std::vector<Event> events;
    ASSERT_TRUE(driver::WaitFor([&] { return (events = Events()).size() >= 3; }, 20000));
    std::printf("the forged end reported %.2f s after WM_ENDSESSION was answered\n",
                (GetTickCount64() - endedAt) / 1000.0);
    EXPECT_EQ(events, (std::vector<Event>{kStartEvent, ending, forged}));

    // The lockdown still holds: another program in front is a switch.
    probe::KeyProbe other;
    ASSERT_TRUE(driver::BringToFront(other.Window()));
    EXPECT_EQ(EventsOnceThereAre(4), (std::vector<Event>{kStartEvent, ending, forged, Violation(3)}));
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, ending, forged, Violation(3), AppClosed(4)}));
}

}  // namespace
