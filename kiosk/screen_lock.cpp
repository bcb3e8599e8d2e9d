#include "kiosk/screen_lock.h"

#include "app/globals.h"
#include "kiosk/proctor_message.h"
#include "kiosk/proctor_texts.h"

#include <algorithm>
#include <vector>

namespace {

constexpr COLORREF kBackground = RGB(0x0F, 0x17, 0x2A), kInk = RGB(0xFF, 0xFF, 0xFF);

constexpr UINT kMsgBackBelowBar = WM_APP + 1;

HWND g_lock = nullptr;
HFONT g_lockFont = nullptr;  // made once, never deleted

HFONT LockFont()
{
    if (!g_lockFont)
        g_lockFont = CreateFontW(44, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
    return g_lockFont;
}

// The text in the middle of the primary screen (the cover reaches over every
// screen; its own origin is the virtual screen's).
void Paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &client, background);
    DeleteObject(background);
    const int left = -GetSystemMetrics(SM_XVIRTUALSCREEN), top = -GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    RECT box{left + width / 8, top, left + width - width / 8, top + height};
    HGDIOBJ old = SelectObject(dc, LockFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kInk);
    RECT measured = box;
    DrawTextW(dc, kTextScreenLocked, -1, &measured, DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    const int textHeight = measured.bottom - measured.top;
    box.top = top + (height - textHeight) / 2;
    box.bottom = box.top + textHeight;
    DrawTextW(dc, kTextScreenLocked, -1, &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(window, &ps);
}

struct Lowest {
    HWND found = nullptr;
};

// The lowest, in the order of the top windows, of the bar and the program's
// own boxes and prompt: the cover goes right below it.
HWND LowestAboveCover(HWND cover)
{
    std::vector<HWND> above;
    if (g_hBarWnd)
        above.push_back(g_hBarWnd);
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM p) {
            if (IsWindowVisible(window) && window != g_hBarWnd && window != g_hMainWnd &&
                window != ProctorMessageWindow() && (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST))
                reinterpret_cast<std::vector<HWND>*>(p)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&above));
    HWND lowest = nullptr;
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w != cover && std::find(above.begin(), above.end(), w) != above.end())
            lowest = w;
    return lowest;
}

}  // namespace

LRESULT CALLBACK ScreenLockWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: Paint(window); return 0;
    case WM_ERASEBKGND: return 1;  // WM_PAINT covers every pixel
    case WM_CLOSE: return 0;       // only the proctor opens it
    case WM_ACTIVATE:
        // Taking the foreground raised it over all; once that is over it
        // goes back below the bar.
        if (LOWORD(wParam) != WA_INACTIVE)
            PostMessageW(window, kMsgBackBelowBar, 0, 0);
        break;
    case kMsgBackBelowBar: PutCoverInPlace(); return 0;
    case WM_DESTROY:
        if (g_lock == window)
            g_lock = nullptr;
        return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void LockScreen()
{
    if (g_lock)
        return;
    // A tool window: no button on the task bar.
    g_lock = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kScreenLockClassName, kTextScreenLocked, WS_POPUP,
                             GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                             GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    if (g_lock)
        ShowWindow(g_lock, SW_SHOW);
}

void UnlockScreen()
{
    if (g_lock)
        DestroyWindow(g_lock);
    g_lock = nullptr;
}

HWND ScreenLockWindow()
{
    return g_lock;
}

void PutCoverInPlace()
{
    if (!g_lock)
        return;
    HWND under = LowestAboveCover(g_lock);
    SetWindowPos(g_lock, under ? under : HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
