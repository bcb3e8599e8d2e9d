#include "kiosk/control_bar.h"

#include "app/globals.h"
#include "kiosk/exam.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/pin_prompt.h"
#include "net/events.h"
#include "res/resource.h"
#include "ui/report_wait.h"

namespace {

constexpr int kBarWidth = 274, kBarHeight = 42, kBarRightGap = 280, kBarTop = 8;
constexpr int kButtonWidth = 125, kButtonHeight = 28, kButtonTop = 6;
constexpr int kFinishLeft = 8, kProctorLeft = 140;
constexpr DWORD kFinishReportWaitMs = 10000;

void MakeButton(HWND bar, const wchar_t* text, int left, int id)
{
    HWND button = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE, left, kButtonTop, kButtonWidth,
                                  kButtonHeight, bar, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  nullptr, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(g_hFontBold), TRUE);
}

// True while the exam that this bar belongs to still runs. A nested box or
// prompt lets the watch end the exam underneath it; the bar is gone then.
bool StillThisExam(HWND bar)
{
    return g_examActive.load() && g_hBarWnd == bar;
}

void OnFinish(HWND bar)
{
    const int answer = MessageBoxW(bar, kTextConfirmFinish, kCaptionConfirmFinish,
                                   MB_YESNO | MB_ICONQUESTION | MB_TOPMOST);
    if (answer != IDYES || !StillThisExam(bar))
        return;
    const ReportId finish = SendExamEventAsync("FINISH", kEventFinishDetail);
    StopExamAndRestore();  // destroys this bar
    // The student is told that the proctor has heard only once it is so.
    const bool delivered = WaitForReportOnStartScreen(finish, kFinishReportWaitMs);
    if (!IsWindow(g_hMainWnd))
        return;  // the program was closed meanwhile
    if (delivered)
        MessageBoxW(g_hMainWnd, kTextFinished, kCaptionFinished, MB_ICONINFORMATION);
    else
        MessageBoxW(g_hMainWnd, kTextFinishedNotReported, kCaptionFinished, MB_ICONWARNING);
}

void OnProctor(HWND bar)
{
    if (PromptProctorPin(bar) && StillThisExam(bar))
        EndExamByProctor();
}

}  // namespace

HWND CreateControlBar()
{
    return CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBarClassName, kTextBarTitle,
                           WS_POPUP | WS_VISIBLE | WS_BORDER, GetSystemMetrics(SM_CXSCREEN) - kBarRightGap, kBarTop,
                           kBarWidth, kBarHeight, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK BarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        MakeButton(window, kTextFinishButton, kFinishLeft, IDC_BAR_FINISH);
        MakeButton(window, kTextProctorButton, kProctorLeft, IDC_BAR_PROCTOR);
        break;
    case WM_CLOSE:
        return 0;  // the bar stays until the exam ends
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_BAR_FINISH)
            OnFinish(window);
        else if (LOWORD(wParam) == IDC_BAR_PROCTOR)
            OnProctor(window);
        // Either may have ended the exam and destroyed this very window.
        if (!IsWindow(window))
            return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
