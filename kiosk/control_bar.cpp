#include "kiosk/control_bar.h"

LRESULT CALLBACK BarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The bar's buttons come with the kiosk session; until then it is a plain popup.
    return DefWindowProcW(window, message, wParam, lParam);
}
