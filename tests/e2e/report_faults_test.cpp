// Event reports never hold the exam up: whatever the event endpoint does, the
// exam starts, locks and finishes while the reports still wait.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

class ReportFaults : public KioskTest {};

TEST_F(ReportFaults, AHangingClosedOrFailingEventEndpointChangesNothingTheStudentSees)
{
    struct Row {
        const char* what;
        server::Answer answer;
    };
    server::Answer silent, cut, failing;
    silent.close = true;                      // never answers, closes when let go
    cut.cutAfter = 20;                        // half a status line, then closed
    cut.body = R"({"ok":true})";
    failing.status = 500;
    failing.body = "Internal Server Error";
    const Row rows[] = {{"silent", silent}, {"closed half-way", cut}, {"answering 500", failing}};

    int round = 0;
    for (Row row : rows) {
        SCOPED_TRACE(row.what);
        if (round > 0) {
            ASSERT_EQ(driver::CloseAndWait(app), 0);
            server::ClearRequests();
            LaunchApp();
        }
        const std::string release = "release-" + std::to_string(++round);
        row.answer.holdUntil = release;
        const Exam exam = StartExam({{kEventPath, row.answer}});  // its START is recorded and held
        ASSERT_NE(exam.bar, nullptr);

        // The lockdown works while the report hangs.
        probe::KeyProbe other;
        ASSERT_TRUE(driver::BringToFront(other.Window()));
        EXPECT_EQ(probe::Describe(other.Deliver(driver::Chord({VK_MENU, VK_TAB}))),
                  probe::Describe({{true, VK_MENU}, {false, VK_MENU}}));

        driver::ClickWindow(GetDlgItem(exam.bar, kBarFinish));
        HWND confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
        ASSERT_NE(confirm, nullptr);
        driver::PressBoxButton(confirm, IDYES);
        HWND done = driver::WaitForMessageBox(pid, L"ORVEL SELVARO");
        ASSERT_NE(done, nullptr) << "the closing message does not wait for the reports";
        EXPECT_TRUE(IsWindowVisible(app.main));
        EXPECT_TRUE(driver::WaitFor([&] { return Count(kFinishEvent) == 1; }, 5000));
        EXPECT_EQ(Count(kStartEvent), 1u);
        EXPECT_EQ(server::AnsweredCount(), server::RequestsTo("/api/exam/verify").size())
            << "no event report has been answered yet";
        driver::PressBoxButton(done, IDOK);
        EXPECT_TRUE(driver::WaitUntilGone(done, 3000));

        // Let the reports go: whatever they get, nothing shows.
        server::Release(release);
        EXPECT_TRUE(driver::WaitFor([&] { return server::AnsweredCount() == server::Requests().size(); }, 10000));
        EXPECT_TRUE(HandledWhatWasPosted());
        EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "no box about the network";
        EXPECT_TRUE(StartButtonIdle());
    }
}

}  // namespace
