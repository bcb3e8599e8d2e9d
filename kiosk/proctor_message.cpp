#include "kiosk/proctor_message.h"

#include "app/globals.h"
#include "kiosk/proctor_commands.h"
#include "kiosk/proctor_texts.h"

namespace {

constexpr int kWidth = 480, kMargin = 20, kButtonWidth = 110, kButtonHeight = 32, kMinTextHeight = 40;
constexpr int kTextId = 1001;

HWND g_message = nullptr;
HFONT g_messageFont = nullptr;  // made once, never deleted (as the program's other fonts)

HFONT MessageFont()
{
    if (!g_messageFont)
        g_messageFont = CreateFontW(20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
    return g_messageFont;
}

// The height the text needs at the window's width, at most most of the screen.
int TextHeight(const std::wstring& text)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, MessageFont());
    RECT r{0, 0, kWidth - 2 * kMargin, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int most = GetSystemMetrics(SM_CYSCREEN) - 200;
    const int height = r.bottom - r.top;
    return height < kMinTextHeight ? kMinTextHeight : (height > most ? most : height);
}

// The window's size and place for this text: centred on the primary screen.
void Arrange(HWND window, const std::wstring& text)
{
    const int textHeight = TextHeight(text);
    RECT frame{0, 0, kWidth, kMargin + textHeight + kMargin + kButtonHeight + kMargin};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    SetWindowPos(window, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, SWP_SHOWWINDOW);
    SetWindowPos(GetDlgItem(window, kTextId), nullptr, kMargin, kMargin, kWidth - 2 * kMargin, textHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(GetDlgItem(window, IDOK), nullptr, (kWidth - kButtonWidth) / 2, kMargin + textHeight + kMargin,
                 kButtonWidth, kButtonHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnCreate(HWND window)
{
    HWND text = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 0,
                                0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), nullptr,
                                nullptr);
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont()), FALSE);
    HWND ok = CreateWindowExW(0, L"BUTTON", kTextOk, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0,
                              0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), nullptr, nullptr);
    SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(g_hFontBold), FALSE);
}

void Close(HWND window)
{
    GiveFrontBackToExam(window);
    DestroyWindow(window);
}

}  // namespace

LRESULT CALLBACK ProctorMessageWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            Close(window);
        return 0;
    case WM_CLOSE: Close(window); return 0;
    case WM_DESTROY:
        if (g_message == window)
            g_message = nullptr;
        return 0;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ShowProctorMessage(const std::wstring& text)
{
    if (!g_message) {
        // No system menu: "OK" is the one way to close it.
        g_message = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, kProctorMessageClassName,
                                    kTitleProctorMessage, WS_POPUP | WS_CAPTION, 0, 0, kWidth, 200, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
        if (!g_message)
            return;
    }
    SetDlgItemTextW(g_message, kTextId, text.c_str());
    Arrange(g_message, text);
    SetForegroundWindow(g_message);
    SetFocus(GetDlgItem(g_message, IDOK));
}

HWND ProctorMessageWindow()
{
    return g_message;
}

void CloseProctorMessage()
{
    if (g_message)
        DestroyWindow(g_message);
    g_message = nullptr;
}
