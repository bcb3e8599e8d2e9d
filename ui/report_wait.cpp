#include "ui/report_wait.h"

#include "app/globals.h"
#include "net/events.h"
#include "ui/main_window.h"
#include "ui/texts.h"

bool WaitForReportOnStartScreen(ReportId id, DWORD timeoutMs)
{
    SetStartButton(false, kTextSendingReport);
    HurryReports();
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    HANDLE settled = ReportProgressEvent();
    bool quit = false;
    while (!quit && FateOfReport(id) == ReportFate::Waiting) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            break;
        MsgWaitForMultipleObjects(1, &settled, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop
                quit = true;
                break;
            }
            if (IsDialogMessageW(g_hMainWnd, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (IsWindow(g_hBtnStart))
        SetStartButton(true, kTextStartButton);
    return FateOfReport(id) == ReportFate::Delivered;
}
