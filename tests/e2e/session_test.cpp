// The exam session from inside the program: the state that nothing outside
// can see (the hook handle, the timer, the browser record) after every road.
#include "app/globals.h"
#include "app/window_classes.h"
#include "browser_control.h"
#include "driver.h"
#include "exam_server_control.h"
#include "process_census.h"
#include "kiosk/exam.h"
#include "kiosk/lockdown/input_hooks.h"
#include "kiosk/pin_prompt.h"
#include "net/events.h"

#include <gtest/gtest.h>


#include <functional>
#include <string>
#include <thread>

namespace {

class Session : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterWindowClasses(GetModuleHandleW(nullptr)); }

    void SetUp() override
    {
        ASSERT_FALSE(server::Dir().empty()) << "no local exam server (ORVEL_SERVER_DIR_WIN)";
        server::Reset();
        EXPECT_EQ(browser::RemoveAll(), "") << "left by an earlier test";
        browser::StartRecording();
        ASSERT_TRUE(browser::PlaceStandIn(browser::kEdge));
        MakeStartScreen();
        g_studentName = "Budi";
        g_className = "5A";
        g_token = "ABC123";
        g_formUrl = "https://localhost/demo/form";
        g_proctorPin = "2468";
    }
    void TearDown() override
    {
        if (IsWindow(g_hMainWnd))
            DestroyWindow(g_hMainWnd);
        Drain();
        EXPECT_EQ(browser::RemoveAll(), "") << "the browser outlived this test's exam";
    }

    static void MakeStartScreen()
    {
        g_hMainWnd = CreateWindowExW(0, kMainClassName, kMainTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 100, 50,
                                     410, 675, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ShowWindow(g_hMainWnd, SW_SHOW);
    }
    // Handles this thread's messages (the program's own loop is not running)
    // until `done` holds; the quit message is taken out of the way.
    static bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000)
    {
        return driver::WaitFor([&] {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            return done();
        }, timeoutMs);
    }
    static void Drain()
    {
        PumpUntil([] { return true; }, 0);
    }

    // Starts the exam, with the violation state left dirty by an "earlier" one.
    void StartExam()
    {
        g_violationCount = 7;
        g_lastViolationTick = 1234;
        const std::size_t before = Starts();
        StartExamInKiosk();
        // Taken before anything below handles this thread's messages: a watch
        // tick handled meanwhile puts a fresh hook in place, as it should.
        hookAtLaunch_ = g_hKeyHook;
        ASSERT_TRUE(g_examActive.load());
        EXPECT_EQ(g_violationCount, 0);
        EXPECT_EQ(g_lastViolationTick, 0u);
        EXPECT_NE(g_hKeyHook, nullptr);
        EXPECT_NE(g_hMouseHook, nullptr);
        EXPECT_NE(g_hBarWnd, nullptr);
        EXPECT_TRUE(IsWindowVisible(g_hBarWnd));
        EXPECT_FALSE(IsWindowVisible(g_hMainWnd));
        EXPECT_NE(g_browserProc.hProcess, nullptr);
        browserPid_ = g_browserProc.dwProcessId;
        EXPECT_TRUE(driver::WaitFor([&] { return Starts() == before + 1; }, 10000)) << "START";
        // In front, as after a real start (this thread has not handled its
        // own window's messages meanwhile, the hidden start screen's among them).
        EXPECT_TRUE(driver::BringToFront(browser::WaitForWindow(browserPid_, 10000)));
    }

    static std::size_t Starts()
    {
        std::size_t n = 0;
        for (const auto& r : server::RequestsTo("/api/exam/event"))
            n += r.body.find("\"event\":\"START\"") != std::string::npos;
        return n;
    }

    // Idle again, as after start-up.
    void ExpectIdle(bool startScreenAlive = true)
    {
        EXPECT_FALSE(g_examActive.load());
        EXPECT_EQ(g_hKeyHook, nullptr) << "no hook recorded";
        EXPECT_EQ(g_hMouseHook, nullptr) << "no mouse hook recorded";
        EXPECT_EQ(g_hBarWnd, nullptr);
        EXPECT_EQ(g_browserProc.hProcess, nullptr);
        EXPECT_EQ(g_browserProc.hThread, nullptr);
        EXPECT_EQ(g_browserProc.dwProcessId, 0u);
        EXPECT_EQ(g_browserProc.dwThreadId, 0u);
        EXPECT_EQ(driver::FindTopWindow(GetCurrentProcessId(), L"CBTControlBar"), nullptr);
        EXPECT_TRUE(driver::WaitFor([&] { return !browser::IsRunning(browserPid_); }, 5000)) << "the browser has ended";
        if (startScreenAlive) {
            EXPECT_FALSE(KillTimer(g_hMainWnd, kWatchTimerId)) << "no watch timer";
            EXPECT_TRUE(IsWindowVisible(g_hMainWnd));
        }
    }

    // Answers, from another thread, the boxes the GUI thread is about to show.
    struct Answer {
        const wchar_t* caption;
        int button;
    };
    std::thread AnswerBoxes(std::vector<Answer> answers, std::wstring* firstText = nullptr)
    {
        return std::thread([answers, firstText] {
            bool first = true;
            for (const Answer& a : answers) {
                HWND box = driver::WaitForMessageBox(GetCurrentProcessId(), a.caption, 10000);
                if (!box)
                    return;
                if (first && firstText)
                    *firstText = driver::MessageBoxText(box);
                first = false;
                driver::PressBoxButton(box, a.button);
                driver::WaitUntilGone(box, 5000);
            }
        });
    }
    // Types the PIN into the prompt and presses Enter, from another thread.
    static std::thread AnswerPrompt(const wchar_t* pin)
    {
        return std::thread([pin] {
            HWND prompt = driver::WaitForTopWindow(GetCurrentProcessId(), L"#32770", L"Akses Pengawas", 10000);
            if (!prompt)
                return;
            HWND field = GetDlgItem(prompt, 901);
            SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pin));
            PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
        });
    }

    // Processes named as Edge's exe (the stand-in at Edge's path), once they settle.
    static int BrowsersRunning()
    {
        int n = 0;
        driver::WaitFor([&] { return (n = census::ProcessesNamed(L"msedge.exe")) == 0; }, 5000);
        return n;
    }

    DWORD browserPid_ = 0;
    HHOOK hookAtLaunch_ = nullptr;
};

TEST_F(Session, EveryRoadOutLeavesNoHookNoBarNoTimerNoBrowser)
{
    {
        SCOPED_TRACE("finish");
        StartExam();
        std::thread boxes = AnswerBoxes({{L"Konfirmasi Selesai Ujian", IDYES}, {L"ORVEL SELVARO", IDOK}});
        PostMessageW(g_hBarWnd, WM_COMMAND, 201, 0);
        EXPECT_TRUE(PumpUntil([] { return !g_examActive.load() && !driver::FindTopWindow(GetCurrentProcessId(), L"#32770"); }));
        boxes.join();
        ExpectIdle();
    }
    {
        SCOPED_TRACE("proctor through the bar");
        StartExam();
        std::thread prompt = AnswerPrompt(L"2468");
        PostMessageW(g_hBarWnd, WM_COMMAND, 202, 0);
        EXPECT_TRUE(PumpUntil([] { return !g_examActive.load(); }));
        prompt.join();
        ExpectIdle();
    }
    {
        SCOPED_TRACE("proctor through Ctrl+Alt+P");
        StartExam();
        std::thread prompt = AnswerPrompt(L"2468");
        PostMessageW(g_hMainWnd, WM_PROCTOR_EXIT, 0, 0);  // what the hook posts
        EXPECT_TRUE(PumpUntil([] { return !g_examActive.load(); }));
        prompt.join();
        ExpectIdle();
    }
    {
        SCOPED_TRACE("the browser ends");
        StartExam();
        HANDLE other = OpenProcess(PROCESS_TERMINATE, FALSE, browserPid_);
        ASSERT_NE(other, nullptr);
        TerminateProcess(other, 3);
        CloseHandle(other);
        EXPECT_TRUE(PumpUntil([] { return !g_examActive.load(); }, 5000)) << "the next watch tick ends it";
        ExpectIdle();
    }
    {
        SCOPED_TRACE("the start screen is destroyed");
        StartExam();
        DestroyWindow(g_hMainWnd);
        ExpectIdle(false);
        MSG quit{};
        EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(quit.wParam, 0u);
    }
}

TEST_F(Session, OneHookAtATimeAndStoppingIsSafeWhenNothingRuns)
{
    StopExamAndRestore();  // nothing runs: only shows the start screen
    StopExamAndRestore();
    ExpectIdle();

    InstallExamHooks();
    HHOOK first = g_hKeyHook;
    ASSERT_NE(first, nullptr);
    InstallExamHooks();
    EXPECT_EQ(g_hKeyHook, first);
    StartExam();
    EXPECT_EQ(hookAtLaunch_, first) << "the launch keeps the recorded hook";

    // The browser has exited on its own before the teardown.
    HANDLE other = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, browserPid_);
    ASSERT_NE(other, nullptr);
    TerminateProcess(other, 0);
    WaitForSingleObject(other, 5000);
    CloseHandle(other);
    StopExamAndRestore();
    ExpectIdle();
    StopExamAndRestore();
    ExpectIdle();
}

TEST_F(Session, AWrongPinCountsWithoutMovingTheWatchsSpacingAndTheHookIsRenewedEachTick)
{
    StartExam();
    const HHOOK first = g_hKeyHook, firstMouse = g_hMouseHook;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(firstMouse, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return g_hKeyHook != first && g_hMouseHook != firstMouse; }, 5000))
        << "a watch tick puts fresh hooks in place";
    EXPECT_NE(g_hKeyHook, nullptr);
    EXPECT_NE(g_hMouseHook, nullptr);

    const int countBefore = g_violationCount;
    const DWORD tickBefore = g_lastViolationTick;
    std::thread proctor([] {
        HWND prompt = driver::WaitForTopWindow(GetCurrentProcessId(), L"#32770", L"Akses Pengawas", 10000);
        if (!prompt)
            return;
        HWND field = GetDlgItem(prompt, 901);
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1111"));
        PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
        HWND wrong = driver::WaitForMessageBox(GetCurrentProcessId(), L"Peringatan", 10000);
        if (!wrong)
            return;
        driver::PressBoxButton(wrong, IDOK);
        driver::WaitUntilGone(wrong, 5000);
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"2468"));
        PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
    });
    PostMessageW(g_hBarWnd, WM_COMMAND, 202, 0);
    EXPECT_TRUE(PumpUntil([] { return !g_examActive.load(); }));
    proctor.join();
    EXPECT_EQ(g_violationCount, countBefore + 1);
    EXPECT_EQ(g_lastViolationTick, tickBefore) << "the watch's spacing is its own";
    ExpectIdle();
    const std::string detail = "\"detail\":\"PIN pengawas salah dimasukkan (Pelanggaran ke-" +
                               std::to_string(countBefore + 1) + ")\"";
    // The proctor's end is reported after it.
    const std::string ended = "\"detail\":\"Ujian diakhiri oleh pengawas dengan PIN.\"";
    EXPECT_TRUE(driver::WaitFor([&] {
        const auto events = server::RequestsTo("/api/exam/event");
        return events.size() >= 2 && events[events.size() - 2].body.find(detail) != std::string::npos &&
               events.back().body.find(ended) != std::string::npos;
    }, 10000)) << "reported";
}

// The spacing as the program measures it, on its own ticks: the trips of the
// reports to the server, which vary, play no part.
TEST_F(Session, TheWatchReportsAForeignWindowAtMostOnceInMoreThanFiveSeconds)
{
    StartExam();
    // Another program of the browser's engine, not from a browser's install path.
    PROCESS_INFORMATION other{};
    ASSERT_TRUE(driver::StartProgram(
        L"\"" + driver::BuildFile(L"tests\\standin\\browser-standin.exe") + L"\" --other-program", other));
    HWND window = browser::WaitForWindow(other.dwProcessId, 10000);
    EXPECT_NE(window, nullptr);
    EXPECT_TRUE(window && driver::BringToFront(window));
    std::vector<DWORD> ticks;  // the tick of each report, as the program recorded it
    EXPECT_TRUE(PumpUntil([&] {
        if (g_violationCount > static_cast<int>(ticks.size()))
            ticks.push_back(g_lastViolationTick);
        return ticks.size() >= 3;
    }, 20000));
    TerminateProcess(other.hProcess, 0);
    WaitForSingleObject(other.hProcess, 5000);
    CloseHandle(other.hProcess);
    CloseHandle(other.hThread);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_EQ(g_violationCount, 3) << "one at a time";
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GT(ticks[i] - ticks[i - 1], 5000u) << "more than 5000 ms after the one before";
        EXPECT_LT(ticks[i] - ticks[i - 1], 7500u) << "at a tick soon after";
    }
    StopExamAndRestore();
    ExpectIdle();
}

TEST_F(Session, ALaunchWithoutItsBarIsTakenDownAgain)
{
    ASSERT_TRUE(UnregisterClassW(kBarClassName, GetModuleHandleW(nullptr)));
    std::wstring text;
    std::thread box = AnswerBoxes({{L"Error", IDOK}}, &text);
    StartExamInKiosk();
    box.join();
    RegisterWindowClasses(GetModuleHandleW(nullptr));
    EXPECT_EQ(text, L"Gagal membuka browser ujian.");
    ExpectIdle();
    EXPECT_EQ(BrowsersRunning(), 0) << "the browser it started is ended again";
    // A START, had one been made, would be at the server once the sender has
    // nothing left.
    EXPECT_TRUE(WaitForQueuedReports(10000)) << "the sender is idle";
    EXPECT_TRUE(server::RequestsTo("/api/exam/event").empty()) << "no START for an exam that did not start";
}

TEST_F(Session, ThePromptHandsTheQuitMessageOnAndGivesBackItsOwner)
{
    PostQuitMessage(3);
    EXPECT_FALSE(PromptProctorPin(g_hMainWnd));
    EXPECT_FALSE(IsProctorPromptOpen());
    EXPECT_EQ(driver::FindTopWindow(GetCurrentProcessId(), L"#32770", L"Akses Pengawas"), nullptr) << "destroyed";
    EXPECT_TRUE(IsWindowEnabled(g_hMainWnd));
    MSG quit{};
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "posted again for the main loop";
    EXPECT_EQ(quit.wParam, 3u);
}

}  // namespace
