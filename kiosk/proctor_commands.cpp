#include "kiosk/proctor_commands.h"

#include "app/globals.h"
#include "kiosk/exam.h"
#include "kiosk/proctor_message.h"
#include "kiosk/proctor_texts.h"
#include "kiosk/screen_lock.h"
#include "net/events.h"
#include "net/proctor_command.h"
#include "net/text.h"
#include "ui/report_wait.h"


namespace {

// As long as the student's own finish waits for its report.
constexpr DWORD kEndReportWaitMs = 10000;

std::wstring ForTheScreen(const std::string& text)
{
    // The text's line breaks are '\n'; Windows' controls break on CR LF.
    std::wstring wide = ToWide(text), out;
    for (const wchar_t c : wide) {
        if (c == L'\n')
            out += L'\r';
        out += c;
    }
    return out;
}

struct WindowsOfProcess {
    DWORD pid;
    HWND found = nullptr;
};

// The browser's first visible top-level window.
HWND BrowserWindow()
{
    WindowsOfProcess search{g_browserProc.dwProcessId};
    if (!search.pid)
        return nullptr;
    EnumWindows(
        [](HWND window, LPARAM p) {
            auto* s = reinterpret_cast<WindowsOfProcess*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != s->pid || !IsWindowVisible(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Like the proctor's PIN exit, with a report and a box of its own. The server
// is told first (the heartbeat goes ahead of FINISH): the exam's end has begun.
void EndFromPage(const std::string& id)
{
    ProctorCommandDone(id);
    const ReportId finish = SendExamEventAsync("FINISH", kEventPageFinishDetail);
    StopExamAndRestore();
    WaitForReportOnStartScreen(finish, kEndReportWaitMs);
    if (IsWindow(g_hMainWnd))
        MessageBoxW(g_hMainWnd, kTextEndedFromPage, kCaptionEndedFromPage, MB_ICONINFORMATION);
}

}  // namespace

void OnProctorCommand(LPARAM lParam)
{
    const std::optional<ProctorCommand> command = TakeProctorCommand(lParam);
    if (!command || !g_examActive.load())
        return;
    switch (command->kind) {
    case CommandKind::Message:
        ShowProctorMessage(ForTheScreen(command->text));
        ProctorCommandDone(command->id);
        break;
    case CommandKind::Lock:
        LockScreen();
        GiveFrontBackToExam();
        KeepProctorWindowsInPlace();
        ProctorCommandDone(command->id);
        break;
    case CommandKind::Unlock:
        GiveFrontBackToExam(ScreenLockWindow());
        UnlockScreen();
        ProctorCommandDone(command->id);
        break;
    case CommandKind::End: EndFromPage(command->id); break;
    case CommandKind::None: break;
    }
}

void KeepProctorWindowsInPlace()
{
    if (HWND lock = ScreenLockWindow()) {
        PutCoverInPlace();
        // Whatever put the browser in front, its keys go to the cover instead.
        DWORD front = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &front);
        if (front != 0 && front == g_browserProc.dwProcessId)
            SetForegroundWindow(ProctorMessageWindow() ? ProctorMessageWindow() : lock);
    }
    if (HWND message = ProctorMessageWindow())
        SetWindowPos(message, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void GiveFrontBackToExam(HWND leaving)
{
    HWND next = nullptr;
    for (HWND candidate : {ProctorMessageWindow(), ScreenLockWindow(), BrowserWindow()})
        if (candidate && candidate != leaving) {
            next = candidate;
            break;
        }
    if (next)
        SetForegroundWindow(next);
}

void CloseProctorWindows()
{
    CloseProctorMessage();
    UnlockScreen();
}
