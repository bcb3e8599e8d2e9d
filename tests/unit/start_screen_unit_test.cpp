// The start screen's verification hand-over, in-process: a real window on the
// real MainWndProc, with the worker starter replaced where a test needs that.
#include "app/globals.h"
#include "kiosk/exam.h"
#include "net/exam_protocol.h"
#include "net/verify.h"
#include "net/worker.h"
#include "res/resource.h"
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace {

int g_starterCalls = 0;
bool RefuseThread(std::function<void()>)
{
    ++g_starterCalls;
    return false;
}

std::wstring WindowText(HWND w)
{
    wchar_t text[512] = {};
    GetWindowTextW(w, text, 511);
    return text;
}

// Waits on another thread for a message box with this caption, reads its text
// and presses OK. The modal loop of the box runs on the test's own thread.
std::future<std::wstring> AnswerBox(const wchar_t* caption)
{
    return std::async(std::launch::async, [caption] {
        for (int i = 0; i < 500; ++i) {
            // Found hidden, the box may not have its text yet: it is shown
            // once filled.
            HWND box = FindWindowW(L"#32770", caption);
            if (box && IsWindowVisible(box)) {
                const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
                PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return text;
            }
            Sleep(10);
        }
        return std::wstring(L"<no box>");
    });
}

class StartScreenUnit : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = MainWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ORVELCBTMain";
        RegisterClassW(&wc);
    }
    void SetUp() override
    {
        g_hMainWnd = CreateWindowExW(0, L"ORVELCBTMain", L"ORVEL SELVARO", WS_OVERLAPPEDWINDOW, 0, 0, 410,
                                     675, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(g_hMainWnd, nullptr);
        g_startWorker = StartDetachedWorker;
    }
    void TearDown() override
    {
        g_startWorker = StartDetachedWorker;
        DestroyWindow(g_hMainWnd);
        // WM_DESTROY posts a quit message meant for the program's loop.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        g_hMainWnd = nullptr;
    }
    // Plays the worker of a verification the start screen is waiting for.
    void Deliver(bool accepted, const char* formUrl, const char* pin, const char* error, const char* session = "")
    {
        CompleteVerifyHandOver(g_hMainWnd, BeginVerifyHandOver(),
                               VerifyResult{accepted, formUrl, pin, error, session});
        MSG msg;
        while (PeekMessageW(&msg, g_hMainWnd, WM_VERIFY_RESULT, WM_VERIFY_RESULT, PM_REMOVE))
            DispatchMessageW(&msg);
    }
};

TEST_F(StartScreenUnit, ARefusedWorkerThreadGivesTheButtonBackWithAClearMessage)
{
    SetWindowTextW(g_hEditName, L"Budi");
    SetWindowTextW(g_hEditClass, L"5A");
    SetWindowTextW(g_hEditToken, L"ABC");
    g_starterCalls = 0;
    g_startWorker = RefuseThread;

    auto box = AnswerBox(L"Verifikasi Gagal");
    SendMessageW(g_hBtnStart, BM_CLICK, 0, 0);
    EXPECT_EQ(box.get(), L"Verifikasi tidak dapat dimulai. Silakan coba lagi.");
    EXPECT_EQ(g_starterCalls, 1);
    EXPECT_TRUE(IsWindowEnabled(g_hBtnStart));
    EXPECT_EQ(WindowText(g_hBtnStart), L"Mulai Ujian");
    EXPECT_EQ(g_studentName, "Budi");
}

TEST_F(StartScreenUnit, TheProctorPinFollowsOnlyNonEmptyPinsOfAcceptedReplies)
{
    g_proctorPin = "6483";
    g_formUrl.clear();

    // Accepted without a form address: the PIN is taken, the exam does not start.
    auto box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "", "1357", "");
    EXPECT_EQ(box.get(), L"Server tidak mengirim alamat formulir ujian. Hubungi pengawas.");
    EXPECT_EQ(g_proctorPin, "1357");
    EXPECT_FALSE(g_examActive.load());

    box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "", "", "");
    box.get();
    EXPECT_EQ(g_proctorPin, "1357") << "an empty PIN keeps the current one";

    // A refusal changes neither the PIN nor the last form address.
    g_formUrl = "https://earlier/form";
    box = AnswerBox(L"Verifikasi Gagal");
    Deliver(false, "", "9999", "Token salah");
    EXPECT_EQ(box.get(), L"Token salah");
    EXPECT_EQ(g_proctorPin, "1357");
    EXPECT_EQ(g_formUrl, "https://earlier/form");
    EXPECT_EQ(g_verifyError, "Token salah");
    g_proctorPin = "6483";
    g_formUrl.clear();
}

// The session waits for the launch of its own acceptance; a later
// acceptance without one, or a refusal, leaves none for the next launch.
TEST_F(StartScreenUnit, TheSessionOfTheLastAcceptanceOnlyWaitsForTheLaunch)
{
    const char kSession[] = "0123456789abcdef0123456789abcdef";
    auto box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "", "", "", kSession);
    box.get();
    EXPECT_EQ(g_examSession, kSession);
    box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "", "", "");
    box.get();
    EXPECT_EQ(g_examSession, "");
    box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "", "", "", kSession);
    box.get();
    box = AnswerBox(L"Verifikasi Gagal");
    Deliver(false, "", "", "Token salah", kSession);
    EXPECT_EQ(box.get(), L"Token salah");
    EXPECT_EQ(g_examSession, "");
}

TEST_F(StartScreenUnit, AFormAddressThatLooksLikeASwitchIsNotLaunched)
{
    auto box = AnswerBox(L"Verifikasi Gagal");
    Deliver(true, "--disable-web-security", "", "");
    EXPECT_EQ(box.get(), L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas.");
    EXPECT_FALSE(g_examActive.load());
    EXPECT_EQ(g_browserProc.hProcess, nullptr);
    EXPECT_TRUE(IsWindowEnabled(g_hBtnStart));
    g_formUrl.clear();
}

TEST_F(StartScreenUnit, OnlyTheAwaitedResultIsTakenWhateverElseArrivesUnderItsNumber)
{
    g_formUrl.clear();
    EnableWindow(g_hBtnStart, FALSE);
    SetWindowTextW(g_hBtnStart, L"Memverifikasi token...");
    auto forge = [](WPARAM w, LPARAM l) { SendMessageW(g_hMainWnd, WM_VERIFY_RESULT, w, l); };

    // Nothing awaited: wild and null parameters change nothing (a wild one
    // used to be freed as a result).
    forge(1, static_cast<LPARAM>(0x12345678));
    forge(0, 0);
    forge(1, -1);
    EXPECT_FALSE(IsWindowEnabled(g_hBtnStart)) << "the button stays as it was";
    EXPECT_EQ(WindowText(g_hBtnStart), L"Memverifikasi token...");

    // Awaited but not yet filled: its own address, forged early, is not taken.
    VerifyHandOver* slot = BeginVerifyHandOver();
    forge(1, reinterpret_cast<LPARAM>(slot));
    forge(1, reinterpret_cast<LPARAM>(slot) + 8);
    EXPECT_FALSE(IsWindowEnabled(g_hBtnStart));

    // The real one is still taken, once.
    auto box = AnswerBox(L"Verifikasi Gagal");
    CompleteVerifyHandOver(g_hMainWnd, slot, VerifyResult{false, "", "", "Token salah", ""});
    MSG msg;
    while (PeekMessageW(&msg, g_hMainWnd, WM_VERIFY_RESULT, WM_VERIFY_RESULT, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_EQ(box.get(), L"Token salah");
    EXPECT_TRUE(IsWindowEnabled(g_hBtnStart));
    forge(0, reinterpret_cast<LPARAM>(slot));  // a replay of the taken one
    EXPECT_EQ(FindWindowW(L"#32770", L"Verifikasi Gagal"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(g_hBtnStart));
    EXPECT_FALSE(g_examActive.load());
}

TEST(StartDetachedWorker, RunsTheWorkOnAnotherThread)
{
    std::promise<std::thread::id> ran;
    auto id = ran.get_future();
    ASSERT_TRUE(StartDetachedWorker([&ran] { ran.set_value(std::this_thread::get_id()); }));
    ASSERT_EQ(id.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_NE(id.get(), std::this_thread::get_id());
}

}  // namespace
