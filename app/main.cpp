// Process entry: GDI+, the background picture, the two window classes, the
// start screen and the one message loop of the program.
#include "app/globals.h"
#include "app/process_guard.h"
#include "app/window_size.h"
#include "app/window_classes.h"
#include "kiosk/exam.h"
#include "kiosk/exam_profile.h"
#include "net/events.h"
#include "ui/gdiplus_inc.h"
#include "ui/paint.h"

#include <commctrl.h>

namespace {

// How long the end of the program waits for reports still queued or on their
// way (the last violation, above all): long enough for a server that
// answers, short enough that a hung request cannot hold the program.
constexpr DWORD kReportsAtExitWaitMs = 5000;

HWND CreateStartScreen(HINSTANCE instance)
{
    const WindowPlacement p =
        ComputeMainWindowPlacement(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    // Fixed size: no thick frame, no maximise box.
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    return CreateWindowExW(0, kMainClassName, kMainTitle, kStyle, p.left, p.top, p.width,
                           p.height, nullptr, nullptr, instance, nullptr);
}

int RunMessageLoop()
{
    MSG msg{};
    // > 0 rather than != 0: an error (-1) must not spin for ever.
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(g_hMainWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // First, before there is anything to stop: Task Manager or a script of
    // the student's own may not end or freeze the program or its window
    // thread, nor load code into it. Without it (an old Windows) the program
    // runs as before.
    ProtectOwnProcess();
    ProtectOwnThread();
    KeepForeignCodeOut();
    const Gdiplus::GdiplusStartupInput gdiplusInput;
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &gdiplusInput, nullptr);
    g_bgImage = LoadBgImageFromResource(instance);

    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWindowClasses(instance);
    RemoveLeftoverProfiles();

    int exitCode = 1;  // no start screen: nothing could ever end the loop
    g_hMainWnd = CreateStartScreen(instance);
    if (g_hMainWnd) {
        ShowWindow(g_hMainWnd, showCommand);
        UpdateWindow(g_hMainWnd);
        exitCode = RunMessageLoop();
        // A quit message posted from outside ends the loop with the exam
        // still running: reported and taken down as a close would be.
        EndExamAsProgramCloses();
        WaitForQueuedReports(kReportsAtExitWaitMs);
    }

    delete g_bgImage;
    g_bgImage = nullptr;
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    return exitCode;
}
