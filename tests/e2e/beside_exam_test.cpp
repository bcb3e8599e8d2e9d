// What other programs show or do beside the exam without the exam's window
// leaving the front: windows kept on top, their dialog boxes, the clipboard;
// and the exam's own processes (the browser and what it starts), which count
// for none of it.
#include "kiosk_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace e2e;

namespace {

// Of the stand-in browser (tests/standin/browser_standin.cpp).
constexpr UINT kStartChild = WM_APP + 9, kOnTop = WM_APP + 11, kRelaunch = WM_APP + 14;

Event OnTop(int n)
{
    return Violation(n, "Jendela program lain tampil di atas jendela ujian");
}
Event Clipboard(int n)
{
    return Violation(n, "Papan klip diisi program lain selama ujian");
}

class BesideTheExam : public KioskTest {
protected:
    void TearDown() override
    {
        for (HWND w : windows_)
            if (IsWindow(w))
                DestroyWindow(w);
        for (HANDLE p : others_) {
            TerminateProcess(p, 0);
            WaitForSingleObject(p, 5000);
            CloseHandle(p);
        }
        KioskTest::TearDown();
    }

    // A window of the driver's kept above every other, shown without taking
    // the front (a calculator set "keep on top", a video's mini view), of
    // the class `cls` (which any program may register, a system's name too).
    HWND WindowOnTop(int width, int height, const wchar_t* cls = L"OrvelDriverOnTop", bool topmost = true)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = cls;
        RegisterClassW(&wc);  // a second window finds it registered
        HWND w = CreateWindowExW((topmost ? WS_EX_TOPMOST : 0) | WS_EX_NOACTIVATE, wc.lpszClassName, L"Catatan",
                                 WS_POPUP | WS_BORDER, 120, 140, width, height, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(w, topmost ? SW_SHOWNA : SW_SHOWNOACTIVATE);
        windows_.push_back(w);
        // This thread handles what X tells it of the new window now: later,
        // under Wine, it could hand the foreground to the desktop.
        driver::SettleDisplay(w);
        driver::HandleOwnMessages();
        return w;
    }
    // The stand-in started by the driver, outside the exam's job, with the
    // arguments the exam's browser gives the child it starts.
    HWND ChildOutsideTheExam()
    {
        PROCESS_INFORMATION pi{};
        const std::wstring standin = driver::BuildFile(L"tests\\standin\\browser-standin.exe");
        if (!driver::StartProgram(L"\"" + standin + L"\" --child", pi))
            return nullptr;
        others_.push_back(pi.hProcess);
        CloseHandle(pi.hThread);
        return browser::WaitForWindow(pi.dwProcessId, 10000);
    }
    // Text on the clipboard, the window `owner` of the driver's its owner (a
    // script's hidden window), or no owner at all.
    static bool PutOnClipboard(const wchar_t* text, HWND owner)
    {
        if (!driver::WaitFor([&] { return OpenClipboard(owner) != 0; }, 3000))
            return false;
        EmptyClipboard();
        const std::size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        memcpy(GlobalLock(memory), text, bytes);
        GlobalUnlock(memory);
        const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        CloseClipboard();
        return set;
    }
    // Emptying it asks its owner, which may be a window of the driver's:
    // this thread answers meanwhile.
    static bool ClipboardEmptied()
    {
        return driver::WaitFor([] {
            driver::HandleOwnMessages();
            return CountClipboardFormats() == 0;
        }, 5000);
    }

    // EventsOnceThereAre, this thread answering its windows meanwhile: under
    // Wine the program's look at the clipboard asks its owner (a window of
    // the driver's) and waits up to 5 s for the answer; a helper's window
    // answers, as this one then does.
    static std::vector<Event> EventsOnceThereAreAnswering(std::size_t n)
    {
        std::vector<Event> events;
        driver::WaitFor([&] {
            driver::HandleOwnMessages();
            return (events = Events()).size() >= n;
        }, 10000);
        return events;
    }

    std::vector<HWND> windows_;
    std::vector<HANDLE> others_;
};

TEST_F(BesideTheExam, AWindowKeptOnTopIsReportedOnceWhileTheExamsOwnProcessesCountForNothing)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    // (Made once the exam runs: under Wine without a window manager, a
    // window on top made before the browser starts can leave the X focus, and
    // the foreground, to the desktop.)
    WindowOnTop(20, 20);  // too small to show anything: never reported
    HWND notes = WindowOnTop(300, 200);
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, OnTop(1)}));
    EXPECT_EQ(GetForegroundWindow(), exam.browser) << "it never took the front";
    // It stays: not again (the exact list at the end shows that none came).
    ASSERT_TRUE(WaitForWatchTick(exam));
    ASSERT_TRUE(WaitForWatchTick(exam));

    // A program the exam's browser starts is in the exam's job: its window
    // counts neither in front nor on top.
    DWORD_PTR childPid = 0;
    ASSERT_TRUE(SendMessageTimeoutW(exam.browser, kStartChild, 0, 0, SMTO_ABORTIFHUNG, 10000, &childPid));
    ASSERT_NE(childPid, 0u);
    HWND child = browser::WaitForWindow(static_cast<DWORD>(childPid), 10000);
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(driver::BringToFront(child));
    ASSERT_TRUE(WaitForWatchTick(exam));
    PostMessageW(child, kOnTop, 0, 0);
    ASSERT_TRUE(driver::WaitFor([&] { return (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }, 5000));
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    ASSERT_TRUE(WaitForWatchTick(exam));

    // Closed and opened again: a new window, reported again. Numbered 2: the
    // child's window made no report, in front (a switch) or on top.
    DestroyWindow(notes);
    WindowOnTop(300, 200);
    EXPECT_EQ(EventsOnceThereAre(3), (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2)}));

    // The same program started from outside the job, in front: a switch.
    HWND outside = ChildOutsideTheExam();
    ASSERT_NE(outside, nullptr);
    ASSERT_TRUE(driver::BringToFront(outside));
    EXPECT_EQ(EventsOnceThereAre(4), (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2), Violation(3)}));
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2), Violation(3), AppClosed(4)}));
}

TEST_F(BesideTheExam, AnotherProgramsDialogOrClipboardCountsTheProgramsAndTheFormsDoNot)
{
    ASSERT_TRUE(PutOnClipboard(L"catatan dari sebelum ujian", nullptr));
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    EXPECT_TRUE(ClipboardEmptied()) << "emptied at the start";

    // A copy in the form (Ctrl+C), then the PIN prompt in front for a tick:
    // nothing. A wrong PIN is reported at once: whatever came before it
    // would arrive first.
    driver::PressChord({VK_CONTROL, 'C'});
    ASSERT_TRUE(driver::WaitFor([] { return CountClipboardFormats() != 0; }, 5000));
    EXPECT_NE(CountClipboardFormats(), 0) << "the form's copy is on the clipboard";
    HWND prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == prompt; }, 5000));
    ASSERT_TRUE(WaitForWatchTick(exam));
    EnterPin(L"1111");
    EXPECT_EQ(TakeBox(L"Peringatan"), L"PIN Pengawas salah.");
    ASSERT_TRUE(driver::BringToFront(prompt));
    driver::PressKey(VK_ESCAPE);
    ASSERT_TRUE(driver::WaitUntilGone(prompt, 5000));
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, WrongPin(1)}));

    // A message box of another program in front: a switch.
    HWND box = CreateWindowExW(0, L"#32770", L"Catatan", WS_POPUP | WS_CAPTION | WS_VISIBLE, 200, 200, 320, 160,
                               nullptr, nullptr, nullptr, nullptr);
    windows_.push_back(box);
    ASSERT_TRUE(driver::BringToFront(box));
    EXPECT_EQ(EventsOnceThereAre(3), (std::vector<Event>{kStartEvent, WrongPin(1), Violation(2)}));
    ASSERT_TRUE(driver::BringToFront(exam.browser));
    DestroyWindow(box);

    // Another program fills the clipboard (its hidden window the owner).
    HWND script = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    windows_.push_back(script);
    ASSERT_TRUE(PutOnClipboard(L"jawaban nomor 3: 42", script));
    EXPECT_EQ(EventsOnceThereAreAnswering(4),
              (std::vector<Event>{kStartEvent, WrongPin(1), Violation(2), Clipboard(3)}));

    // The end empties it: the program asks the driver's window, which does
    // not answer until the checks of the start screen are done. They pass:
    // the program does not wait for that answer.
    ASSERT_NE(OpenPromptWithKeys(), nullptr);
    EnterPin(kPin);
    ExpectExamOver(exam);
    EXPECT_TRUE(ClipboardEmptied()) << "emptied at the end";
    EXPECT_EQ(EventsOnceEnded(),
              (std::vector<Event>{kStartEvent, WrongPin(1), Violation(2), Clipboard(3), kProctorFinishEvent}));
}

TEST_F(BesideTheExam, WindowsOverTheExamInAnyFormAreReportedASystemsClassNameProvesNothing)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    // The on-screen keyboard's class, registered by the driver, kept on top.
    WindowOnTop(300, 200, L"OSKMainClass");
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, OnTop(1)}));
    // A plain window, not topmost, put above the browser without activation.
    HWND plain = WindowOnTop(300, 200, L"OrvelDriverPlain", false);
    SetWindowPos(plain, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(Above(plain, exam.browser)) << "the test's own premise";
    EXPECT_EQ(EventsOnceThereAre(3), (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2)}));
    // Room enough for the letter of an answer.
    WindowOnTop(40, 40);
    EXPECT_EQ(EventsOnceThereAre(4), (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2), OnTop(3)}));
    EXPECT_EQ(GetForegroundWindow(), exam.browser) << "none of them took the front";

    // A plain window behind the browser is under the exam, not over it.
    HWND behind = WindowOnTop(300, 200, L"OrvelDriverPlain", false);
    SetWindowPos(behind, exam.browser, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ASSERT_TRUE(Above(exam.browser, behind)) << "the test's own premise";
    ASSERT_TRUE(WaitForWatchTick(exam));
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_EQ(EventsThroughAMarker(),
              (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2), OnTop(3), SessionLocked(4)}));
    EXPECT_EQ(EventsOnceEnded(),
              (std::vector<Event>{kStartEvent, OnTop(1), OnTop(2), OnTop(3), SessionLocked(4), AppClosed(5)}));
}

TEST_F(BesideTheExam, TheExamsOwnWindowNamedAsTheClipboardsOwnerProvesNothingWithoutACopyKey)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    ASSERT_TRUE(ClipboardEmptied()) << "emptied at the start";
    // A helper opens the clipboard with the bar's window and sets text.
    const ULONGLONG putAt = GetTickCount64();
    ASSERT_TRUE(PutOnClipboard(L"jawaban nomor 3: 42", exam.bar));
    EXPECT_EQ(EventsOnceThereAre(2), (std::vector<Event>{kStartEvent, Clipboard(1)}));
    std::printf("the forged owner reported %.2f s after the change\n", (GetTickCount64() - putAt) / 1000.0);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, Clipboard(1), AppClosed(2)}));
}

TEST_F(BesideTheExam, AClipboardHeldOpenAcrossTheLaunchIsEmptiedOnceFreeAndReportedWhileItStays)
{
    HWND script = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    windows_.push_back(script);
    ASSERT_TRUE(PutOnClipboard(L"catatan dari sebelum ujian", script));
    // Held open around the launch, as a helper would: the start cannot empty it.
    ASSERT_TRUE(OpenClipboard(script));
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    const ULONGLONG startedAt = GetTickCount64();
    const std::vector<Event> events = EventsOnceThereAreAnswering(2);
    std::printf("the notes kept from before the exam reported %.2f s after START arrived\n",
                (GetTickCount64() - startedAt) / 1000.0);
    EXPECT_EQ(events, (std::vector<Event>{kStartEvent, Clipboard(1)}));
    EXPECT_NE(CountClipboardFormats(), 0) << "still there while it is held";
    CloseClipboard();
    EXPECT_TRUE(ClipboardEmptied()) << "emptied on a tick once it is free";
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, Clipboard(1), AppClosed(2)})) << "reported once";
}

// An update that the browser swaps in: its first process starts the new
// browser (in the exam's job) and exits. The exam ends only when the job is
// empty.
TEST_F(BesideTheExam, ABrowserThatRestartsItselfKeepsTheExamUntilItsLastProcessEnds)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    DWORD_PTR successor = 0;
    ASSERT_TRUE(SendMessageTimeoutW(exam.browser, kRelaunch, 0, 0, SMTO_ABORTIFHUNG, 10000, &successor));
    ASSERT_NE(successor, 0u);
    EXPECT_EQ(ExitCode(exam), 0) << "the first process has ended";
    HWND next = browser::WaitForWindow(static_cast<DWORD>(successor), 10000);
    ASSERT_NE(next, nullptr);
    ASSERT_TRUE(driver::BringToFront(next));
    ASSERT_TRUE(WaitForWatchTick(exam));
    ASSERT_TRUE(WaitForWatchTick(exam));
    EXPECT_TRUE(IsWindow(exam.bar)) << "the exam goes on";
    // The new browser in front is the exam's: nothing reported before the marker.
    EXPECT_EQ(EventsThroughAMarker(), (std::vector<Event>{kStartEvent, SessionLocked(1)}));

    // Its last process ends: the browser is closed.
    const ULONGLONG closedAt = GetTickCount64();
    PostMessageW(next, WM_CLOSE, 0, 0);
    EXPECT_TRUE(driver::WaitFor([&] { return !IsWindow(exam.bar); }, 5000)) << "the exam is taken down";
    std::printf("the exam taken down %.2f s after the last process was told to end\n",
                (GetTickCount64() - closedAt) / 1000.0);
    EXPECT_TRUE(driver::WaitFor([&] { return GetForegroundWindow() == app.main; }, 5000));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, SessionLocked(1), BrowserClosed(2)}));
}

}  // namespace
