// The proctor's hand from the page, as the heartbeat's answer brings it: a
// message in "Pesan Pengawas", the exam ended with its own report and box,
// the screen locked and unlocked; each told done in a heartbeat at once.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace e2e;

namespace {

constexpr char kBeatPath[] = "/api/exam/heartbeat";
const std::string kExamSession = "0c1d2e3a4b59687f8e9dacbbcadbe15f";
const Event kPageFinishEvent{"FINISH", "Ujian diakhiri oleh pengawas dari halaman pengawas."};
constexpr int kMessageText = 1001;

class ProctorCommands : public KioskTest {
protected:
    Exam StartWithCommands(const std::string& commands)
    {
        return StartExam({{kBeatPath, Commands(commands)}},
                         R"({"ok":true,"formUrl":"https://localhost/demo/form","proctorPin":"2468","session":")" +
                             kExamSession + "\"}");
    }
    static server::Answer Commands(const std::string& commands)
    {
        server::Answer a;
        a.commands = commands;
        return a;
    }
    static std::string BeatBody(const std::string& done = "")
    {
        return R"({"session":")" + kExamSession + (done.empty() ? "" : R"(","done":")" + done) + "\"}";
    }
    // The heartbeat numbered n (from 1) once it has arrived, and how long
    // after the one before it, in ms of the server's clock.
    static server::Request Beat(std::size_t n, double* afterPrevious = nullptr, DWORD timeoutMs = 25000)
    {
        const auto beats = server::WaitForRequests(kBeatPath, n, timeoutMs);
        if (beats.size() < n)
            return {};
        if (afterPrevious && n >= 2)
            *afterPrevious = beats[n - 1].arrivedMs - beats[n - 2].arrivedMs;
        return beats[n - 1];
    }
    HWND WaitForMessageWindow(DWORD timeoutMs = 25000) const
    {
        return driver::WaitForTopWindow(pid, L"ORVELProctorMessage", L"Pesan Pengawas", timeoutMs);
    }
    HWND WaitForLock(DWORD timeoutMs = 25000) const
    {
        return driver::WaitForTopWindow(pid, L"ORVELScreenLock", nullptr, timeoutMs);
    }
};

TEST_F(ProctorCommands, AMessageShowsOverTheExamIsToldDoneAtOnceAndASecondReplacesIt)
{
    const Exam exam = StartWithCommands(
        R"([{"command":"message","commandId":"m1","text":"Sepuluh menit lagi.\nPeriksa jawabanmu \u00e9\u202e!"}])");
    ASSERT_NE(exam.bar, nullptr);

    // The first heartbeat, 15 s after the launch, brings it.
    HWND message = WaitForMessageWindow();
    ASSERT_NE(message, nullptr) << "\"Pesan Pengawas\" shows";
    const ULONGLONG shownAt = GetTickCount64();
    EXPECT_EQ(driver::Text(GetDlgItem(message, kMessageText)), L"Sepuluh menit lagi.\r\nPeriksa jawabanmu \u00e9!")
        << "the line break kept, the bidi override dropped";
    EXPECT_EQ(driver::Text(GetDlgItem(message, IDOK)), L"OK");
    EXPECT_EQ(driver::ClassOf(GetDlgItem(message, IDOK)), L"Button");
    EXPECT_TRUE(GetWindowLongW(message, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongW(message, GWL_STYLE) & WS_SYSMENU) << "OK is the one way to close it";
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == message; }, 5000))
        << "in front: " << Describe(GetForegroundWindow());

    // Told done in a heartbeat at once, not 15 s later.
    EXPECT_EQ(Beat(1).body, BeatBody());
    double gap = 0;
    const server::Request told = Beat(2, &gap, 10000);
    EXPECT_EQ(told.body, BeatBody("m1"));
    EXPECT_EQ(told.Header("Exam-Session"), kExamSession);
    std::printf("the message told done %.0f ms after the heartbeat that brought it\n", gap);
    EXPECT_LT(gap, 10000) << "at once, long before the next heartbeat would be due";

    // Above the bar and the browser, through the watch's ticks; no violation
    // while it is in front.
    ASSERT_TRUE(WaitForWatchTick(exam));
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_TRUE(Above(message, exam.bar));
    EXPECT_TRUE(Above(exam.bar, exam.browser));
    EXPECT_EQ(GetForegroundWindow(), message);

    // The next command comes with the next heartbeat: its text replaces the
    // first in the one window.
    server::SetAnswers({{kBeatPath, Commands(R"([{"command":"message","commandId":"m1","text":"lama"},)"
                                             R"({"command":"message","commandId":"m2","text":"Lima menit lagi."}])")}});
    ASSERT_TRUE(driver::WaitFor([&] { return driver::Text(GetDlgItem(message, kMessageText)) == L"Lima menit lagi."; },
                                25000))
        << "the second text did not replace the first";
    EXPECT_EQ(driver::FindTopWindow(pid, L"ORVELProctorMessage"), message) << "the same window";
    EXPECT_EQ(Beat(4, &gap, 10000).body, BeatBody("m2"));
    std::printf("the second told done %.0f ms after the heartbeat that brought it; %.1f s after the first showed\n",
                gap, static_cast<double>(GetTickCount64() - shownAt) / 1000);

    // OK closes it, and the browser has the keyboard again.
    driver::ClickWindow(GetDlgItem(message, IDOK));
    EXPECT_TRUE(driver::WaitUntilGone(message, 5000));
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == exam.browser; }, 5000))
        << "in front: " << Describe(GetForegroundWindow());
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, AppClosed(1)})) << "no violation";
}

TEST_F(ProctorCommands, TheEndFromThePageReportsItsFinishTakesTheExamDownAndSaysSo)
{
    // A message first: the answer of the heartbeat that tells it done
    // carries the end at once.
    const Exam exam = StartWithCommands(R"([{"command":"message","commandId":"m1","text":"Waktu habis."},)"
                                        R"({"command":"end","commandId":"e1"}])");
    ASSERT_NE(exam.bar, nullptr);
    HWND message = WaitForMessageWindow();
    ASSERT_NE(message, nullptr);

    EXPECT_EQ(TakeBox(L"ORVEL SELVARO", 20000), L"Ujian diakhiri oleh pengawas.");
    EXPECT_FALSE(IsWindow(message)) << "the message goes with the exam";
    ExpectExamOver(exam);

    const auto events = EventsOnceThereAre(2);
    EXPECT_EQ(events, (std::vector<Event>{kStartEvent, kPageFinishEvent}));
    // In order: the heartbeat that brought the message, the one that told
    // it done (and brought the end), the one that told the end begun, then
    // FINISH; none after.
    std::vector<std::string> seen;
    for (const auto& r : server::Requests())
        seen.push_back(r.Path() == kBeatPath ? r.body : r.Path() + " " + EventOf(r).event);
    const std::vector<std::string> expected{"/api/exam/verify ", "/api/exam/event START", BeatBody(), BeatBody("m1"),
                                            BeatBody("e1"), "/api/exam/event FINISH"};
    EXPECT_EQ(seen, expected);
    const auto beats = server::RequestsTo(kBeatPath);
    if (beats.size() == 3)
        std::printf("message told done %.0f ms after its heartbeat; the end told begun %.0f ms after the next\n",
                    beats[1].arrivedMs - beats[0].arrivedMs, beats[2].arrivedMs - beats[1].arrivedMs);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kPageFinishEvent})) << "nothing more";
    EXPECT_EQ(server::RequestsTo(kBeatPath).size(), 3u) << "no heartbeat after the end";
}

TEST_F(ProctorCommands, TheLockCoversTheBrowserBelowTheBarUntilUnlockedAndThePinStillEndsTheExam)
{
    const Exam exam = StartWithCommands(R"([{"command":"lock","commandId":"l1"}])");
    ASSERT_NE(exam.bar, nullptr);

    HWND lock = WaitForLock();
    ASSERT_NE(lock, nullptr) << "the cover shows";
    EXPECT_EQ(driver::Text(lock), L"Layar dikunci oleh pengawas. Tunggu pengawas datang.");
    RECT r{};
    GetWindowRect(lock, &r);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(r.top, GetSystemMetrics(SM_YVIRTUALSCREEN));
    EXPECT_EQ(r.right - r.left, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(r.bottom - r.top, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_TRUE(GetWindowLongW(lock, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(GetDlgItem(lock, IDOK), nullptr) << "no button";
    double gap = 0;
    EXPECT_EQ(Beat(2, &gap, 25000).body, BeatBody("l1"));
    std::printf("the lock told done %.0f ms after the heartbeat that brought it\n", gap);
    EXPECT_LT(gap, 10000);

    // Through the watch's ticks: the bar above the cover, the cover above
    // the browser and in front; a click in the middle of the screen lands on
    // the cover; no violation.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_TRUE(Above(exam.bar, lock));
    EXPECT_TRUE(Above(lock, exam.browser));
    const POINT middle{GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
    EXPECT_EQ(WindowFromPoint(middle), lock);
    driver::MouseTo(middle);
    driver::MouseButton(middle, true);
    driver::MouseButton(middle, false);
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == lock; }, 5000))
        << "in front: " << Describe(GetForegroundWindow());
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_EQ(Events(), (std::vector<Event>{kStartEvent})) << "the cover is the program's own";

    // Unlocked with the next heartbeat: the browser is in front again.
    server::SetAnswers({{kBeatPath, Commands(R"([{"command":"lock","commandId":"l1"},)"
                                             R"({"command":"unlock","commandId":"u1"}])")}});
    EXPECT_TRUE(driver::WaitUntilGone(lock, 25000)) << "unlock removes the cover";
    EXPECT_EQ(Beat(4, &gap, 10000).body, BeatBody("u1"));
    std::printf("the unlock told done %.0f ms after the heartbeat that brought it\n", gap);
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == exam.browser; }, 5000))
        << "in front: " << Describe(GetForegroundWindow());

    // Locked again; the proctor at the PC ends the exam with the bar's
    // "Pengawas (PIN)", whose prompt shows above the cover.
    server::SetAnswers({{kBeatPath, Commands(R"([{"command":"lock","commandId":"l1"},)"
                                             R"({"command":"unlock","commandId":"u1"},)"
                                             R"({"command":"lock","commandId":"l2"}])")}});
    lock = WaitForLock();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(Beat(6, nullptr, 10000).body, BeatBody("l2"));
    // Under Wine the X focus that follows the cover's taking the foreground
    // can raise it once more: the watch's next tick puts it back.
    ASSERT_TRUE(WaitForWatchTick(exam));
    HWND proctorButton = GetDlgItem(exam.bar, kBarProctor);
    RECT br{};
    GetWindowRect(proctorButton, &br);
    EXPECT_EQ(WindowFromPoint({(br.left + br.right) / 2, (br.top + br.bottom) / 2}), proctorButton)
        << "the bar's button is above the cover";
    driver::ClickWindow(GetDlgItem(exam.bar, kBarProctor));
    HWND prompt = WaitForPrompt();
    ASSERT_NE(prompt, nullptr) << "the bar's button works over the cover";
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_TRUE(Above(prompt, lock)) << "the prompt stays above the cover";
    EXPECT_TRUE(driver::WaitForFocus(prompt, GetDlgItem(prompt, kPinField)));
    EnterPin(kPin);
    EXPECT_TRUE(driver::WaitUntilGone(lock, 5000)) << "the cover goes with the exam";
    ExpectExamOver(exam);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kProctorFinishEvent}));
}

}  // namespace
