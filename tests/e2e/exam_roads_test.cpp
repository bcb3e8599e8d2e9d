// Every road out of a running exam, as the student and the proctor take it:
// the bar, its boxes, the PIN prompt, the browser closing.
#include "kiosk_fixture.h"
#include "process_census.h"

#include <gtest/gtest.h>

using namespace e2e;

namespace {

constexpr LONG kStyleMask = WS_POPUP | WS_CHILD | WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_VISIBLE | WS_TABSTOP;

class ExamRoads : public KioskTest {
protected:
    // The keys that would leave the exam do not reach the window in front, while
    // the program sits in the loop of a box or of the prompt. (The exam's own
    // browser, which the watch does not count.)
    static void ExpectWaysOutSwallowed(probe::KeyProbe& quiet)
    {
        ASSERT_TRUE(driver::BringToFront(quiet.Window()));
        const std::vector<probe::KeyEvent> altAlone{{true, VK_MENU}, {false, VK_MENU}};
        const std::vector<probe::KeyEvent> ctrlAlone{{true, VK_CONTROL}, {false, VK_CONTROL}};
        EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_MENU, VK_TAB}))), probe::Describe(altAlone));
        EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_MENU, VK_F4}))), probe::Describe(altAlone));
        EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_CONTROL, VK_ESCAPE}))), probe::Describe(ctrlAlone));
        EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_LWIN}))), L"");
    }
    static int VisiblePrompts()
    {
        int prompts = 0;
        EnumWindows([](HWND w, LPARAM n) {
            if (driver::ClassOf(w) == L"#32770" && driver::Text(w) == L"Akses Pengawas" && IsWindowVisible(w))
                ++*reinterpret_cast<int*>(n);
            return TRUE;
        }, reinterpret_cast<LPARAM>(&prompts));
        return prompts;
    }
};

// Where the bar and the PIN prompt sit on this screen, and what they hold.
TEST_F(ExamRoads, TheBarAndThePromptSitWhereThisScreenPutsThem)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    EXPECT_FALSE(IsWindowVisible(app.main)) << "the start screen hides during the exam";

    RECT r{};
    GetWindowRect(exam.bar, &r);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) - 280);
    EXPECT_EQ(r.top, 8);
    EXPECT_EQ(r.right - r.left, 274);
    EXPECT_EQ(r.bottom - r.top, 42);
    EXPECT_EQ(driver::Text(exam.bar), L"CBT Control");
    EXPECT_EQ(GetWindowLongW(exam.bar, GWL_STYLE) & kStyleMask, WS_POPUP | WS_VISIBLE | WS_BORDER);
    EXPECT_EQ(GetWindowLongW(exam.bar, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW),
              WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
    EXPECT_EQ(driver::OwnerOf(exam.bar), nullptr);
    struct {
        int id;
        const wchar_t* text;
        RECT rect;
    } const buttons[] = {{kBarFinish, L"Selesai Ujian", {8, 6, 133, 34}}, {kBarProctor, L"Pengawas (PIN)", {140, 6, 265, 34}}};
    for (const auto& b : buttons) {
        HWND button = GetDlgItem(exam.bar, b.id);
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(driver::Text(button), b.text);
        EXPECT_EQ(driver::ClassOf(button), L"Button");
        EXPECT_EQ(GetWindowLongW(button, GWL_STYLE) & (kStyleMask | BS_TYPEMASK), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON);
        const RECT got = driver::RectInParent(button);
        EXPECT_TRUE(EqualRect(&got, &b.rect)) << b.id << ": " << got.left << "," << got.top << " " << got.right << "," << got.bottom;
    }

    HWND prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr) << "Ctrl+Alt+P opens \"Akses Pengawas\"";
    GetWindowRect(prompt, &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 320) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - 175) / 2);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(r.bottom - r.top, 175);
    EXPECT_EQ(GetWindowLongW(prompt, GWL_STYLE) & kStyleMask, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    EXPECT_EQ(GetWindowLongW(prompt, GWL_EXSTYLE) & (WS_EX_DLGMODALFRAME | WS_EX_TOPMOST),
              WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
    HWND field = GetDlgItem(prompt, kPinField);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(GetWindowLongW(field, GWL_STYLE) & (ES_NUMBER | ES_PASSWORD), ES_NUMBER | ES_PASSWORD);
    EXPECT_EQ(driver::Text(GetDlgItem(prompt, IDOK)), L"Buka Kunci");
    EXPECT_EQ(driver::Text(GetDlgItem(prompt, IDCANCEL)), L"Batal");
    EXPECT_TRUE(driver::WaitForFocus(prompt, field)) << "the focus is in the PIN field";
    driver::PressKey(VK_ESCAPE);
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 3000));
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, AppClosed(1)})) << "the prompt reported nothing";
}

TEST_F(ExamRoads, FinishAsksFirstThenReportsAndCloses)
{
    probe::KeyProbe quiet(probe::Kind::Dialog);
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    quiet.Follow(exam.browser);

    // A close request is ignored.
    PostMessageW(exam.bar, WM_CLOSE, 0, 0);
    SendMessageW(exam.bar, WM_NULL, 0, 0);  // handled after the close request
    EXPECT_TRUE(IsWindowVisible(exam.bar));

    // "Selesai Ujian", then No: the exam goes on. The keyboard stays locked
    // while the question is open.
    driver::ClickWindow(GetDlgItem(exam.bar, kBarFinish));
    HWND confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(driver::MessageBoxText(confirm),
              L"Pastikan Anda sudah menekan tombol KIRIM (Submit) pada Google Form.\n"
              L"Apakah Anda yakin ingin mengakhiri ujian sekarang?");
    EXPECT_EQ(driver::OwnerOf(confirm), exam.bar);
    EXPECT_TRUE(GetWindowLongW(confirm, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_NE(GetDlgItem(confirm, IDNO), nullptr);
    ExpectWaysOutSwallowed(quiet);
    driver::PressBoxButton(confirm, IDNO);
    EXPECT_TRUE(driver::WaitUntilGone(confirm, 3000));
    SendMessageW(exam.bar, WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(exam.bar));
    EXPECT_TRUE(browser::IsRunning(exam.browserPid));

    // Again, and Yes: FINISH, the teardown, then the closing message over the start screen.
    driver::ClickWindow(GetDlgItem(exam.bar, kBarFinish));
    confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
    ASSERT_NE(confirm, nullptr);
    driver::PressBoxButton(confirm, IDYES);
    HWND done = driver::WaitForMessageBox(pid, L"ORVEL SELVARO");
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(driver::MessageBoxText(done), L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.");
    EXPECT_EQ(driver::OwnerOf(done), app.main);
    EXPECT_TRUE(IsWindowVisible(app.main)) << "shown before the message";
    EXPECT_FALSE(IsWindow(exam.bar)) << "the bar is gone before the message";
    driver::PressBoxButton(done, IDOK);
    EXPECT_TRUE(driver::WaitUntilGone(done, 3000));
    ExpectExamOver(exam);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, kFinishEvent})) << "FINISH once, nothing for No";
}

TEST_F(ExamRoads, CtrlAltPOpensOnePromptOverTheBarThatOnlyTheRightPinUnlocks)
{
    probe::KeyProbe quiet(probe::Kind::Dialog);
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    quiet.Follow(exam.browser);  // outside the exam, the probe's own window

    // The P of the shortcut never reaches the window in front, with or
    // without Shift.
    ASSERT_TRUE(driver::BringToFront(quiet.Window()));
    quiet.Received();
    driver::PressChord({VK_CONTROL, VK_MENU, VK_SHIFT, 'P'});
    HWND prompt = WaitForPrompt();
    ASSERT_NE(prompt, nullptr) << "Ctrl+Alt+Shift+P opens \"Akses Pengawas\"";
    EXPECT_EQ(driver::OwnerOf(prompt), exam.bar);
    EXPECT_FALSE(IsWindowEnabled(exam.bar)) << "the bar is disabled under the prompt";
    HWND field = GetDlgItem(prompt, kPinField);
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(driver::WaitForFocus(prompt, field)) << "the focus is in the PIN field";

    ASSERT_TRUE(driver::BringToFront(quiet.Window()));
    for (const auto& e : quiet.Received())
        EXPECT_NE(e.vk, 'P') << "the P of Ctrl+Alt+Shift+P reached the window in front";

    // The key repeat asks again while the prompt is open: still one prompt.
    std::vector<INPUT> twice = driver::Chord({VK_CONTROL, VK_MENU, 'P'});
    const std::vector<INPUT> again = driver::Chord({VK_CONTROL, VK_MENU, 'P'});
    twice.insert(twice.end(), again.begin(), again.end());
    EXPECT_EQ(probe::Describe(quiet.Deliver(twice)), L"+11 +12 -12 -11 +11 +12 -12 -11 ") << "P never arrives";
    EXPECT_TRUE(HandledWhatWasPosted()) << "the program handled the requests";
    EXPECT_EQ(VisiblePrompts(), 1);
    ExpectWaysOutSwallowed(quiet);

    // A wrong PIN: the warning over the prompt, which stays with its text.
    ASSERT_TRUE(driver::BringToFront(prompt));
    ASSERT_TRUE(driver::WaitForFocus(prompt, field));
    EnterPin(L"1357");
    HWND wrong = driver::WaitForMessageBox(pid, L"Peringatan");
    ASSERT_NE(wrong, nullptr);
    EXPECT_EQ(driver::MessageBoxText(wrong), L"PIN Pengawas salah.");
    EXPECT_EQ(driver::OwnerOf(wrong), prompt);
    ExpectWaysOutSwallowed(quiet);
    driver::PressBoxButton(wrong, IDOK);
    EXPECT_TRUE(driver::WaitUntilGone(wrong, 3000));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_EQ(SendMessageW(field, WM_GETTEXTLENGTH, 0, 0), 4) << "the field keeps what was typed";

    // Esc cancels: the exam goes on and the bar takes input again.
    ASSERT_TRUE(driver::BringToFront(prompt));
    driver::PressKey(VK_ESCAPE);
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 3000));
    EXPECT_TRUE(driver::WaitFor([&] { return IsWindowEnabled(exam.bar) != 0; }, 3000));
    EXPECT_TRUE(browser::IsRunning(exam.browserPid));

    // Letters cannot go into the field: "2a4b6c8" is typed as 2468.
    prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(driver::WaitForFocus(prompt, GetDlgItem(prompt, kPinField)));
    EnterPin(L"2a4b6c8");
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 5000));
    ExpectExamOver(exam);
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "no message on the proctor's road";

    // Outside an exam Ctrl+Alt+P reaches the window in front and opens nothing.
    ASSERT_TRUE(driver::BringToFront(quiet.Window()));
    EXPECT_EQ(probe::Describe(quiet.Deliver(driver::Chord({VK_CONTROL, VK_MENU, 'P'}))), L"+11 +12 +50 -50 -12 -11 ");
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_EQ(WaitForPrompt(0), nullptr);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, WrongPin(1), kProctorFinishEvent}))
        << "the wrong PIN, the proctor's end, and no more";
}

TEST_F(ExamRoads, ThePinButtonOnTheBarTakesClicksAndWithoutAPinFromTheServerTheBuiltInOne)
{
    // The server accepts without a proctorPin: the program's own PIN holds.
    const Exam exam = StartExam({}, R"({"ok":true,"formUrl":"https://localhost/demo/form"})");
    ASSERT_NE(exam.bar, nullptr);
    driver::ClickWindow(GetDlgItem(exam.bar, kBarProctor));
    HWND prompt = WaitForPrompt();
    POINT at{};
    GetCursorPos(&at);
    RECT button{};
    GetWindowRect(GetDlgItem(exam.bar, kBarProctor), &button);
    ASSERT_NE(prompt, nullptr) << "pointer at " << at.x << "," << at.y << " over " << Describe(WindowFromPoint(at))
                               << "; button " << button.left << "," << button.top << "-" << button.right << ","
                               << button.bottom << "; in front: " << Describe(GetForegroundWindow());
    EXPECT_EQ(driver::OwnerOf(prompt), exam.bar);

    // "Batal" cancels.
    driver::ClickWindow(GetDlgItem(prompt, IDCANCEL));
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 3000));
    EXPECT_TRUE(driver::WaitFor([&] { return IsWindowEnabled(exam.bar) != 0; }, 3000));

    // "Buka Kunci" with an empty field is a wrong PIN, and so is the PIN other
    // exams had from the server; then the built-in one.
    driver::ClickWindow(GetDlgItem(exam.bar, kBarProctor));
    prompt = WaitForPrompt();
    ASSERT_NE(prompt, nullptr);
    driver::ClickWindow(GetDlgItem(prompt, IDOK));
    EXPECT_EQ(TakeBox(L"Peringatan", 5000), L"PIN Pengawas salah.");
    for (const wchar_t* pin : {kPin, L"6483"}) {
        HWND field = GetDlgItem(prompt, kPinField);
        SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        driver::ClickWindow(field);
        ASSERT_TRUE(driver::WaitForFocus(prompt, field));
        driver::TypeText(pin);
        driver::ClickWindow(GetDlgItem(prompt, IDOK));
        if (pin == kPin) {
            EXPECT_EQ(TakeBox(L"Peringatan", 5000), L"PIN Pengawas salah.");
        }
    }
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 5000));
    ExpectExamOver(exam);
    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, WrongPin(1), WrongPin(2), kProctorFinishEvent}))
        << "each wrong PIN once, then the proctor's end";
}

TEST_F(ExamRoads, TheBrowserClosingEndsTheExamWithAReportAndTheNextCountsFromOne)
{
    probe::KeyProbe other;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const Exam exam = StartExam();
        ASSERT_NE(exam.bar, nullptr);
        ASSERT_TRUE(driver::BringToFront(other.Window()));
        ASSERT_TRUE(driver::WaitFor([&] { return Count(Violation(1)) == round + 1u; }, 5000));
        // The browser ends by itself with code 5.
        PostMessageW(exam.browser, WM_APP + 7, 5, 0);
        ExpectExamOver(exam, 5);
        EXPECT_TRUE(HandledWhatWasPosted());
        EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "nothing is shown";
    }
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, Violation(1), BrowserClosed(2), kStartEvent,
                                                     Violation(1), BrowserClosed(2)}))
        << "one report of the closed browser, numbered after the violation before it";
}

TEST_F(ExamRoads, TheBrowserClosingUnderAnOpenBoxOrPromptEndsTheExamOnce)
{
    // Under the finish confirmation.
    Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    driver::ClickWindow(GetDlgItem(exam.bar, kBarFinish));
    HWND confirm = driver::WaitForMessageBox(pid, L"Konfirmasi Selesai Ujian");
    ASSERT_NE(confirm, nullptr);
    PostMessageW(exam.browser, WM_APP + 7, 0, 0);
    EXPECT_TRUE(driver::WaitUntilGone(confirm, 5000)) << "the box goes with the bar that owns it";
    ExpectExamOver(exam);

    // Under the PIN prompt.
    exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    HWND prompt = OpenPromptWithKeys();
    ASSERT_NE(prompt, nullptr);
    PostMessageW(exam.browser, WM_APP + 7, 0, 0);
    EXPECT_TRUE(driver::WaitUntilGone(prompt, 5000)) << "the prompt goes with the bar that owns it";
    ExpectExamOver(exam);

    EXPECT_TRUE(HandledWhatWasPosted());
    EXPECT_EQ(driver::FindTopWindow(pid, L"#32770"), nullptr) << "no closing message: nobody finished";
    // And the program still works: a third exam starts.
    exam = StartExam();
    EXPECT_NE(exam.bar, nullptr);
    EXPECT_EQ(EventsOnceEnded(), (std::vector<Event>{kStartEvent, BrowserClosed(1), kStartEvent, BrowserClosed(1),
                                                     kStartEvent, AppClosed(1)}))
        << "the closed browser each time, no FINISH";
}

TEST_F(ExamRoads, TheProgramKilledFromOutsideTakesTheBrowserWithIt)
{
    const Exam exam = StartExam();
    ASSERT_NE(exam.bar, nullptr);
    ASSERT_TRUE(TerminateProcess(app.pi.hProcess, 1)) << "as Task Manager ends it";
    EXPECT_EQ(driver::WaitForExit(app, 5000), 1);
    EXPECT_NE(ExitCode(exam), -1) << "the browser is gone within a few seconds";
    EXPECT_TRUE(driver::WaitFor([] { return census::ProcessesNamed(L"msedge.exe") == 0; }, 5000)) << "no stand-in left";
}

}  // namespace
