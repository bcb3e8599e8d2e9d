// A fresh run of the program for each test, with the helpers that work its
// start screen's form.
#pragma once

#include "browser_control.h"
#include "driver.h"
#include "exam_server_control.h"

#include <gtest/gtest.h>

#include <string>

namespace e2e {

inline constexpr int kName = 101, kClass = 102, kToken = 103, kStart = 104, kRules = 105;
inline constexpr char kVerifyPath[] = "/api/exam/verify";
inline constexpr char kEventPath[] = "/api/exam/event";

class AppTest : public ::testing::Test {
protected:
    void SetUp() override { LaunchApp(); }
    void TearDown() override
    {
        if (app.pi.hProcess) {
            EXPECT_EQ(driver::CloseAndWait(app), 0) << "closing the start screen must end the program with 0";
        }
    }
    void LaunchApp()
    {
        ASSERT_TRUE(driver::Launch(app)) << "start screen never appeared";
        pid = app.pi.dwProcessId;
    }

    HWND Item(int id) const { return GetDlgItem(app.main, id); }
    void SetField(int id, const std::wstring& text) const
    {
        SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // Posted, not sent: the click may open a modal box and would block the driver.
    void Click(int id) const { PostMessageW(Item(id), BM_CLICK, 0, 0); }
    void FillAndStart(const std::wstring& name, const std::wstring& cls, const std::wstring& token) const
    {
        SetField(kName, name);
        SetField(kClass, cls);
        SetField(kToken, token);
        Click(kStart);
    }
    // The text of the box with this caption, which is then answered with OK.
    std::wstring TakeBox(const wchar_t* caption, DWORD timeoutMs = 10000) const
    {
        HWND box = driver::WaitForMessageBox(pid, caption, timeoutMs);
        if (!box)
            return L"<no box>";
        const std::wstring text = driver::MessageBoxText(box);
        driver::PressBoxButton(box, IDOK);
        driver::WaitUntilGone(box, 3000);
        return text;
    }
    bool StartButtonIdle() const
    {
        return IsWindowEnabled(Item(kStart)) && driver::Text(Item(kStart)) == L"Mulai Ujian";
    }
    // Clicks the rules link and closes its box. Clicks are handled in order,
    // so whatever an earlier click was going to show exists by then.
    void SyncThroughRulesBox() const
    {
        Click(kRules);
        ASSERT_EQ(TakeBox(L"Ketentuan Keamanan Ujian", 5000).substr(0, 1), L"\u2022");
    }
    // Proves that the program has handled every message posted to its
    // windows before the call, whatever loop it is in (its own, a box's, the
    // PIN prompt's): the messages of a thread are handled in turn, and the
    // effect of one posted to the name field can be read back (its length
    // limit, which nothing else uses). The way to see that something posted
    // did NOT happen.
    bool HandledWhatWasPosted() const
    {
        const auto limit = [&] {
            DWORD_PTR got = 0;
            SendMessageTimeoutW(Item(kName), EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, 5000, &got);
            return got;
        };
        const DWORD_PTR before = limit();
        const DWORD_PTR marker = before == 30000 ? 29999 : 30000;
        PostMessageW(Item(kName), EM_SETLIMITTEXT, marker, 0);
        const bool handled = driver::WaitFor([&] { return limit() == marker; }, 10000);
        PostMessageW(Item(kName), EM_SETLIMITTEXT, before, 0);
        return handled;
    }

    driver::App app;
    DWORD pid = 0;
};

// The same, with a clean local exam server (no answers set, nothing recorded)
// and no browser at any install path when the program starts.
class ServedAppTest : public AppTest {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(server::Dir().empty()) << "no local exam server (ORVEL_SERVER_DIR_WIN)";
        server::Reset();
        EXPECT_EQ(browser::RemoveAll(), "") << "left by an earlier test";
        // Every test starts with the pointer in the same place, away from
        // the bar, the prompt and the boxes: under Wine the full-screen
        // browser in front holds X's pointer where it was, and a window of
        // the program mapped under a place an earlier test left would be
        // told of that place in the middle of a click.
        EXPECT_TRUE(driver::MouseTo({2, GetSystemMetrics(SM_CYSCREEN) - 3})) << "the pointer to its resting place";
        BeforeLaunch();
        AppTest::SetUp();
    }
    void TearDown() override
    {
        AppTest::TearDown();
        EXPECT_EQ(browser::RemoveAll(), "") << "the browser outlived this test's program";
    }
    // What a fixture puts in place before the program starts.
    virtual void BeforeLaunch() {}
};

}  // namespace e2e
