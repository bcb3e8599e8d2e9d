// Another program can post the program's own message numbers to its windows:
// WM_VERIFY_RESULT (1025) and WM_PROCTOR_EXIT (1026).
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

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

}  // namespace
