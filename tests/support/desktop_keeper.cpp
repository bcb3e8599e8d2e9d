// Keeps the Wine desktop of a test run alive, and does nothing else.
//
// Wine closes its desktop one second after the last program that used it has
// ended, and the next program that needs one starts it afresh, handing it its
// own output. Started by a test program, the desktop then holds the test's
// output pipe open for that second after the test has ended, and ctest waits
// for it. The bench starts this program first, apart from ctest, so the
// desktop lives as long as the run. It ends when the wineserver is stopped.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // A window, never shown, makes this program a user of the desktop.
    HWND window = CreateWindowExW(0, L"STATIC", L"desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance,
                                  nullptr);
    if (!window)
        return 1;
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
