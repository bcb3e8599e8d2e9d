// Event reports against an exam server that fails, hangs or refuses: each
// report is tried until the server takes it, in the order made, and the
// student is told the truth about the last one.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

using namespace e2e;

namespace {

class ReportDelivery : public KioskTest {
protected:
    static server::Answer Closed()
    {
        server::Answer a;
        a.close = true;  // read the request, hang up without an answer
        return a;
    }
    static server::Answer Held(const std::string& release)
    {
        server::Answer a = Status(200);
        a.holdUntil = release;
        return a;
    }
    // Every try of every report, with its Idempotency-Key.
    static std::vector<std::pair<Event, std::string>> Tries()
    {
        std::vector<std::pair<Event, std::string>> tries;
        for (const auto& r : server::RequestsTo(kEventPath))
            tries.emplace_back(EventOf(r), r.Header("Idempotency-Key"));
        return tries;
    }
    bool SendingReport() const
    {
        return !IsWindowEnabled(Item(kStart)) && driver::Text(Item(kStart)) == L"Mengirim laporan...";
    }
};

const wchar_t kNotReported[] =
    L"Ujian selesai, tetapi laporan belum sampai ke pengawas. Beritahu pengawas dan jangan tutup aplikasi ini dulu.";

bool IsKey(const std::string& key)
{
    return key.size() == 32 && key.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(ReportDelivery, AFailedReportIsTriedAgainWithItsOwnKeyInOrderWhileTheExamGoesOn)
{
    probe::KeyProbe other, quiet(probe::Kind::Dialog);
    // START: a hang-up, a reply cut short, then an answer held until the test
    // lets it go; the violation made meanwhile waits behind it, fails with a
    // 503 once, then is taken.
    // Cut inside the body: fewer bytes than the Content-Length announced.
    server::Answer cut = Status(200);
    const std::string whole = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=UTF-8\r\nConnection: close\r\n"
                              "Content-Length: " + std::to_string(cut.body.size()) + "\r\n\r\n" + cut.body;
    cut.cutAfter = static_cast<int>(whole.size()) - 4;
    const Exam exam = StartExam({{kEventPath, Closed()}, {kEventPath, cut}, {kEventPath, Held("release-start")},
                                 {kEventPath, Status(503)}, {kEventPath, Status(200)}});
    ASSERT_NE(exam.bar, nullptr) << "the exam starts while its START fails";
    quiet.Follow(exam.browser);

    ASSERT_TRUE(driver::BringToFront(other.Window()));
    ASSERT_TRUE(WaitForWatchTick(exam)) << "the watch has seen it: a violation";
    ASSERT_TRUE(driver::BringToFront(quiet.Window()));
    EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_MENU, VK_TAB}))),
              probe::Describe({{true, VK_MENU}, {false, VK_MENU}}))
        << "the keyboard stays locked while the reports fail";
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    ASSERT_TRUE(driver::WaitFor([&] { return Count(kStartEvent) == 3; }, 10000)) << "the third try, held";
    EXPECT_EQ(Count(Violation(1)), 0u) << "the violation waits behind START";
    const std::size_t beforeRelease = server::Requests().size();
    server::Release("release-start");

    ASSERT_TRUE(driver::WaitFor([&] { return Count(Violation(1)) == 2; }, 20000))
        << testing::PrintToString(Events()) << " answered " << server::AnsweredCount() << " of "
        << server::Requests().size();
    // A later report shows that nothing more of the violation came between.
    HWND prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr);
    EnterPin(L"1111");
    EXPECT_EQ(TakeBox(L"Peringatan"), L"PIN Pengawas salah.");
    SendMessageW(GetDlgItem(prompt, kPinField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    ASSERT_TRUE(driver::BringToFront(prompt));
    EnterPin(kPin);
    ExpectExamOver(exam);

    EXPECT_EQ(EventsOnceEnded(),
              (std::vector<Event>{kStartEvent, kStartEvent, kStartEvent, Violation(1), Violation(1), WrongPin(2),
                                  kProctorFinishEvent}));
    const auto all = server::Requests();
    const auto firstViolation = std::find_if(all.begin(), all.end(), [](const server::Request& r) {
        return r.Path() == kEventPath && EventOf(r) == Violation(1);
    });
    EXPECT_GE(static_cast<std::size_t>(firstViolation - all.begin()), beforeRelease)
        << "the violation went only once START was let go";
    const auto tries = Tries();
    ASSERT_EQ(tries.size(), 7u);
    std::set<std::string> keys;
    for (const auto& [event, key] : tries) {
        EXPECT_TRUE(IsKey(key)) << "\"" << key << "\"";
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), 4u) << "one key a report, the same on every try";
    EXPECT_EQ(tries[0].second, tries[2].second);
    EXPECT_EQ(tries[3].second, tries[4].second);
    EXPECT_EQ(server::RequestsTo("/api/exam/verify").at(0).Header("Idempotency-Key"), "") << "not on the verification";
}

// After a while without a server the sender waits long between tries (8 s
// after the fourth failure, then 10 s); a new report has the waiting one tried
// at once, so a server that came back hears of both within a moment, not at
// the end of the wait. (The unit test of the queue holds the whole schedule.)
TEST_F(ReportDelivery, AServerBackAfterTheLongBackOffHearsOfTheNextReportAtOnce)
{
    const Exam exam = StartExam({{kEventPath, Status(503)}});
    ASSERT_NE(exam.bar, nullptr);
    // Four failed tries of START, 1, 2 and 4 s apart: the next wait is 8 s.
    ASSERT_TRUE(driver::WaitFor([] {
        return server::RequestsTo(kEventPath).size() == 4 && server::AnsweredCount() == server::Requests().size();
    }, 30000)) << "tries: " << server::RequestsTo(kEventPath).size();
    server::SetAnswers({{kEventPath, Status(200)}});
    const Event locked = Violation(1, "Layar dikunci atau pengguna Windows diganti selama ujian");
    const ULONGLONG made = GetTickCount64();
    PostMessageW(app.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    ASSERT_TRUE(driver::WaitFor([&] { return Count(locked) == 1; }, 15000));
    const ULONGLONG took = GetTickCount64() - made;
    std::printf("START and the new report delivered %.1f s after the report was made\n",
                static_cast<double>(took) / 1000.0);
    EXPECT_LT(took, 5000u) << "not left to the end of the 8 s wait";
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent, kStartEvent, kStartEvent, kStartEvent, kStartEvent, locked}));
}

TEST_F(ReportDelivery, TheClosingMessageWaitsForTheFinishReportAndTellsTheTruth)
{
    // The server holds FINISH: "Mengirim laporan..." until it answers, then the message.
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    server::SetAnswers({{kEventPath, Held("release-finish")}});
    PressFinishAndYes(exam);
    ASSERT_TRUE(driver::WaitFor([&] { return Count(kFinishEvent) == 1; }, 10000));
    EXPECT_TRUE(driver::WaitFor([&] { return SendingReport(); }, 5000)) << "the start button says it is sending";
    EXPECT_TRUE(IsWindowVisible(app.main));
    EXPECT_FALSE(IsWindow(exam.bar)) << "the exam is over meanwhile";
    EXPECT_TRUE(HandledWhatWasPosted()) << "the program goes on handling messages";
    EXPECT_EQ(driver::FindTopWindow(pid, L"#32770", L"ORVEL SELVARO"), nullptr) << "no message before the answer";
    EXPECT_TRUE(SendingReport());
    server::Release("release-finish");
    EXPECT_EQ(TakeBox(L"ORVEL SELVARO"), L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.");
    ExpectExamOver(exam);

    // A server that answers no report: after the wait, the truth; the report
    // is still tried, and goes once the server answers again.
    exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    server::SetAnswers({{kEventPath, Closed()}});
    PressFinishAndYes(exam);
    const ULONGLONG yes = GetTickCount64();
    EXPECT_TRUE(driver::WaitFor([&] { return SendingReport(); }, 5000));
    HWND box = driver::WaitForMessageBox(pid, L"ORVEL SELVARO", 20000);
    const ULONGLONG waited = GetTickCount64() - yes;
    ASSERT_NE(box, nullptr);
    std::printf("the closing message came %.1f s after Yes, the server answering nothing\n",
                static_cast<double>(waited) / 1000.0);
    EXPECT_GE(waited, 9500u) << "the program waits 10 s for an answer";
    EXPECT_LE(waited, 12000u) << "and no longer";
    EXPECT_EQ(driver::MessageBoxText(box), kNotReported);
    EXPECT_TRUE(driver::WaitFor([&] { return Count(kFinishEvent) >= 2; }, 5000)) << "tried";
    EXPECT_TRUE(StartButtonIdle()) << "the button is back with the message";
    driver::PressBoxButton(box, IDOK);
    EXPECT_TRUE(driver::WaitUntilGone(box, 3000));
    const std::size_t triedSoFar = server::RequestsTo(kEventPath).size();
    server::SetAnswers({{kEventPath, Status(200)}});
    ASSERT_TRUE(driver::WaitFor([&] { return server::RequestsTo(kEventPath).size() > triedSoFar; }, 15000))
        << "still tried after the message";
    // The next exam's START goes only once the FINISH is delivered; the
    // program's end shows that nothing more came.
    exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    const auto events = EventsOnceEnded();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(std::vector<Event>(events.end() - 3, events.end()),
              (std::vector<Event>{kFinishEvent, kStartEvent, AppClosed(1)}));
    std::vector<std::string> finishAnswers;
    for (const auto& r : server::RequestsTo(kEventPath))
        if (EventOf(r) == kFinishEvent && r.answered != "")
            finishAnswers.push_back(r.answered);
    ASSERT_FALSE(finishAnswers.empty());
    EXPECT_EQ(finishAnswers.back(), "200") << "delivered by its last try";
    EXPECT_EQ(std::count(finishAnswers.begin(), finishAnswers.end(), "200"), 2)
        << "the first exam's FINISH and this one's, each taken once and then no more tried";
}

TEST_F(ReportDelivery, ARefusedReportIsNotTriedAgainAndTheNextGoesAtOnce)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    server::SetAnswers({{kEventPath, Status(400)}, {kEventPath, Status(200)}});
    HWND prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr);
    EnterPin(L"1111");
    EXPECT_EQ(TakeBox(L"Peringatan"), L"PIN Pengawas salah.");
    ASSERT_TRUE(driver::BringToFront(prompt));
    driver::PressKey(VK_ESCAPE);
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 3000));
    PressFinishAndYes(exam);
    EXPECT_EQ(TakeBox(L"ORVEL SELVARO"), L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.");

    // A refused FINISH: the truth at once, without waiting for an answer
    // that has come.
    const Exam second = StartExam();
    ASSERT_NE(second.bar, nullptr);
    server::SetAnswers({{kEventPath, Status(403)}});
    PressFinishAndYes(second);
    const ULONGLONG yes = GetTickCount64();
    HWND box = driver::WaitForMessageBox(pid, L"ORVEL SELVARO", 15000);
    const ULONGLONG waited = GetTickCount64() - yes;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver::MessageBoxText(box), kNotReported);
    EXPECT_LT(waited, 5000u) << "not the 10 s wait for an answer";
    driver::PressBoxButton(box, IDOK);
    EXPECT_TRUE(driver::WaitUntilGone(box, 3000));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, WrongPin(1), kFinishEvent, kStartEvent, kFinishEvent}))
        << "each refused one once";
}

TEST_F(ReportDelivery, ClosingTheProgramDuringAnExamReportsItWithoutWaitingForAHungServer)
{
    // The report goes before the program ends.
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_EQ(driver::WaitForExit(app, 15000), 0);
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent, AppClosed(1)})) << "at the server before the end";
    EXPECT_EQ(ExitCode(exam), 0) << "the browser is ended with the program";

    // A report that hangs holds the end only for the bounded wait.
    server::ClearRequests();
    LaunchApp();
    exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    server::SetAnswers({{kEventPath, Held("release-never")}});
    const ULONGLONG close = GetTickCount64();
    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_EQ(driver::WaitForExit(app, 15000), 0);
    const ULONGLONG ended = GetTickCount64() - close;
    std::printf("the program ended %.1f s after the close, its last report hanging\n",
                static_cast<double>(ended) / 1000.0);
    EXPECT_GE(ended, 4500u) << "it waits 5 s for the report";
    EXPECT_LE(ended, 7000u) << "and no longer";
    EXPECT_EQ(Count(AppClosed(1)), 1u);
    EXPECT_LT(server::AnsweredCount(), server::Requests().size()) << "the report was still waiting for the server";
    server::Release("release-never");
    EXPECT_TRUE(driver::WaitFor([] { return server::AnsweredCount() == server::Requests().size(); }, 5000));

    // Closed while the closing message waits for FINISH: a clean end, and
    // nothing reported as closed, the exam being over.
    server::ClearRequests();
    LaunchApp();
    exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    server::SetAnswers({{kEventPath, Held("release-finish-close")}});
    PressFinishAndYes(exam);
    ASSERT_TRUE(driver::WaitFor([&] { return SendingReport(); }, 5000));
    ASSERT_TRUE(driver::WaitFor([&] { return Count(kFinishEvent) == 1; }, 10000));
    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(app.main); }, 5000)) << "the start screen goes";
    // What the close made may go now; the program's end waits for it.
    server::Release("release-finish-close");
    EXPECT_EQ(driver::WaitForExit(app, 15000), 0);
    EXPECT_EQ(ExitCode(exam), 0) << "the browser is gone";
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent, kFinishEvent})) << "no report of the program closing";
}

}  // namespace
