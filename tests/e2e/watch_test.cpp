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
        std::wstring cmd = L"\"" + path + L"\" --other-program";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
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

TEST_F(Watch, AForeignWindowIsReportedAtOnceThenAtMostEveryFiveSeconds)
{
    probe::KeyProbe other;
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    ASSERT_TRUE(Violations().empty());
    ASSERT_TRUE(driver::BringToFront(other.Window()));
    const ULONGLONG inFront = GetTickCount64();

    // Watch the reports arrive for about 12 s, noting when each came.
    std::vector<ULONGLONG> arrivals;
    while (GetTickCount64() - inFront < 12500) {
        const std::size_t n = Violations().size();
        while (arrivals.size() < n)
            arrivals.push_back(GetTickCount64());
        probe::Pump(25);
    }
    const auto reports = Violations();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LE(reports.size(), 3u);
    for (std::size_t i = 0; i < reports.size(); ++i)
        EXPECT_EQ(reports[i], Violation(static_cast<int>(i) + 1)) << "numbered from 1 without gaps";
    EXPECT_LT(arrivals[0] - inFront, 2500u) << "the first at the next tick";
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        // The program spaces them by more than 5000 ms; a report's trip to
        // the server may vary by a few hundred.
        EXPECT_GT(arrivals[i] - arrivals[i - 1], 4500u) << "report " << i + 1;
        EXPECT_LT(arrivals[i] - arrivals[i - 1], 7500u) << "report " << i + 1;
    }
    EXPECT_TRUE(browser::IsRunning(exam.browserPid)) << "the exam goes on";
}

TEST_F(Watch, TheExamsWindowsBrowsersAndDialogsDoNotCountOtherEngineProgramsDo)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);

    // A second browser started from a browser install path.
    ASSERT_TRUE(browser::PlaceStandIn(browser::kChrome));
    const DWORD chrome = StartOtherProgram(browser::PathOf(browser::kChrome));
    HWND chromeWindow = browser::WaitForWindow(chrome, 10000);
    ASSERT_NE(chromeWindow, nullptr);
    ASSERT_TRUE(driver::BringToFront(chromeWindow));
    probe::Pump(2500);

    // A standard dialog of another program.
    HWND dialog = CreateWindowExW(0, L"#32770", L"Dialog lain", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 300, 150,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(driver::BringToFront(dialog));
    probe::Pump(2500);
    DestroyWindow(dialog);

    // The bar itself.
    ASSERT_TRUE(driver::BringToFront(exam.bar));
    probe::Pump(2500);
    EXPECT_TRUE(Violations().empty());

    // A program of the same engine (same window class) from anywhere else.
    const DWORD chat = StartOtherProgram(driver::BuildFile(L"tests\\standin\\browser-standin.exe"));
    HWND chatWindow = browser::WaitForWindow(chat, 10000);
    ASSERT_NE(chatWindow, nullptr);
    ASSERT_TRUE(driver::BringToFront(chatWindow));
    EXPECT_TRUE(driver::WaitFor([&] { return !Violations().empty(); }, 5000));
    EXPECT_EQ(Violations(), std::vector<Event>{Violation(1)});
}

TEST_F(Watch, TheBarGoesBackAboveAnotherTopmostWindow)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    probe::KeyProbe cover(L"OrvelDriverCover", WS_EX_TOPMOST);
    RECT bar{};
    GetWindowRect(exam.bar, &bar);
    // Right over the bar, and above it.
    SetWindowPos(cover.Window(), HWND_TOPMOST, bar.left - 20, bar.top, 400, 200, SWP_NOACTIVATE);
    auto barAbove = [&] {
        for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
            if (w == exam.bar)
                return true;
            if (w == cover.Window())
                return false;
        }
        return false;
    };
    ASSERT_FALSE(barAbove()) << "the cover starts above the bar";
    EXPECT_TRUE(driver::WaitFor([&] { probe::Pump(0); return barAbove(); }, 3000)) << "the next tick puts it back";
    RECT after{};
    GetWindowRect(exam.bar, &after);
    EXPECT_TRUE(EqualRect(&bar, &after)) << "neither moved nor sized";
    EXPECT_NE(GetForegroundWindow(), exam.bar) << "nor activated";
}

}  // namespace
