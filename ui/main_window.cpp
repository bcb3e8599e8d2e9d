#include "ui/main_window.h"

#include "app/globals.h"
#include "kiosk/command_line.h"
#include "kiosk/exam.h"
#include "kiosk/pin_prompt.h"
#include "kiosk/proctor_commands.h"
#include "kiosk/watch/clipboard.h"
#include "kiosk/watch/foreground.h"
#include "kiosk/watch/pc.h"
#include "net/exam_protocol.h"
#include "net/proctor_command.h"
#include "net/text.h"
#include "net/verify.h"
#include "res/resource.h"
#include "ui/layout.h"
#include "ui/owner_draw.h"
#include "ui/paint.h"
#include "ui/texts.h"

#include <memory>
#include <string>

namespace {

constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kUpperEditStyle = kEditStyle | ES_UPPERCASE;
constexpr DWORD kStartButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD kRulesLinkStyle = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;

HFONT MakeUiFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

HWND MakeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style,
               DWORD exStyle, int x, int y, int w, int h, int id)
{
    return CreateWindowExW(exStyle, cls, text, style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

HWND MakeEdit(HWND parent, DWORD style, int x, int y, int w, int id)
{
    HWND edit = MakeChild(parent, L"EDIT", L"", style, WS_EX_CLIENTEDGE, x, y, w, kFieldHeight, id);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(g_hFontNormal), TRUE);
    return edit;
}

// Reads at most maxUnits UTF-16 units of a field; longer text is cut silently.
std::string ReadField(HWND edit, int maxUnits)
{
    std::wstring buffer(static_cast<std::size_t>(maxUnits) + 2, L'\0');
    const int length = GetWindowTextW(edit, buffer.data(), maxUnits + 1);
    buffer.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return ToUtf8(buffer);
}

void ShowVerifyFailed(HWND window, const std::wstring& text)
{
    MessageBoxW(window, text.c_str(), kCaptionVerifyFailed, MB_OK | MB_ICONERROR);
}

void OnCreate(HWND window)
{
    g_hFontBold = MakeUiFont(15, FW_BOLD);
    g_hFontNormal = MakeUiFont(16, FW_NORMAL);

    RECT client{};
    GetClientRect(window, &client);
    const FormLayout f = ComputeFormLayout(client.right - client.left, client.bottom - client.top);

    g_hEditName = MakeEdit(window, kEditStyle, f.x, f.y0 + kNameFieldDy, f.width, IDC_EDIT_NAME);
    g_hEditClass = MakeEdit(window, kUpperEditStyle, f.x, f.y0 + kClassFieldDy, f.width, IDC_EDIT_CLASS);
    g_hEditToken = MakeEdit(window, kUpperEditStyle, f.x, f.y0 + kTokenFieldDy, f.width, IDC_EDIT_TOKEN);
    g_hBtnStart = MakeChild(window, L"BUTTON", kTextStartButton, kStartButtonStyle, 0, f.x,
                            f.y0 + kStartButtonDy, f.width, kStartButtonHeight, IDC_BTN_START);
    MakeChild(window, L"BUTTON", kTextRulesLink, kRulesLinkStyle, 0, f.x, f.y0 + kRulesLinkDy,
              f.width, kRulesLinkHeight, IDC_BTN_RULES);
    RegisterSessionNotices(window);
    StartClipboardWatch(window);
}

void OnStartPressed(HWND window)
{
    // Pressed only when enabled; a command sent by another program while a
    // verification runs (or an exam) would start a second one.
    if (!IsWindowEnabled(g_hBtnStart) || g_examActive.load())
        return;
    // Stored before the check, so an empty field also replaces the old value.
    g_studentName = ReadField(g_hEditName, 254);
    g_className = ReadField(g_hEditClass, 62);
    g_token = ReadField(g_hEditToken, 62);

    if (g_studentName.empty() || g_className.empty() || g_token.empty()) {
        MessageBoxW(window, kTextFieldsMissing, kCaptionWarning, MB_OK | MB_ICONWARNING);
        return;
    }

    // Disabled until the result arrives, so only one verification runs.
    SetStartButton(false, kTextVerifying);
    if (!StartVerification(window, g_studentName, g_className, g_token)) {
        SetStartButton(true, kTextStartButton);
        ShowVerifyFailed(window, kTextNoWorker);
    }
}

void OnVerifyResult(HWND window, WPARAM wParam, LPARAM lParam)
{
    // Only the result of the verification under way counts: another program
    // can post this message number too, with any parameters.
    const std::unique_ptr<VerifyResult> result = TakeVerifyResult(lParam);
    if (!result)
        return;
    // The worker's findings are stored here, on the GUI thread, so a late
    // worker can never write into the session.
    SetStartButton(true, kTextStartButton);
    if (result->accepted) {
        g_formUrl = result->formUrl;
        g_examSession = result->session;
        if (!result->proctorPin.empty())
            g_proctorPin = result->proctorPin;
        g_verifyError.clear();
    } else {
        g_verifyError = result->error;
        g_examSession.clear();
    }

    if (wParam == 1 && !g_formUrl.empty()) {
        if (IsLaunchableFormUrl(g_formUrl))
            StartExamInKiosk();
        else
            ShowVerifyFailed(window, kTextBadFormUrl);
    } else if (wParam == 1) {
        ShowVerifyFailed(window, kTextNoFormUrl);
    } else {
        ShowVerifyFailed(window, ToWide(g_verifyError));
    }
}

void OnCommand(HWND window, int id)
{
    switch (id) {
    case IDC_BTN_RULES:
        MessageBoxW(window, kTextRules, kCaptionRules, MB_OK | MB_ICONINFORMATION);
        break;
    case IDC_BTN_START:
        OnStartPressed(window);
        break;
    default:
        // Enter and Escape arrive here as ids 1 and 2 and start nothing.
        break;
    }
}

void OnProctorExit()
{
    // Ignored outside an exam, and while a prompt is already open (the key
    // repeat of Ctrl+Alt+P asks again and again).
    if (!g_examActive.load() || IsProctorPromptOpen())
        return;
    HWND owner = g_hBarWnd ? g_hBarWnd : g_hMainWnd;
    // The exam may have ended under the prompt (the browser closed).
    if (PromptProctorPin(owner) && g_examActive.load())
        EndExamByProctor();
}

void OnDestroy(HWND window)
{
    UnregisterSessionNotices(window);
    StopClipboardWatch(window);
    // Closed from the task bar, or by a shutdown.
    EndExamAsProgramCloses();
    PostQuitMessage(0);
}

}  // namespace

void SetStartButton(bool enabled, const wchar_t* text)
{
    EnableWindow(g_hBtnStart, enabled ? TRUE : FALSE);
    SetWindowTextW(g_hBtnStart, text);
    InvalidateRect(g_hBtnStart, nullptr, TRUE);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:     OnCreate(window); break;
    case WM_COMMAND:    OnCommand(window, LOWORD(wParam)); break;
    case WM_DESTROY:    OnDestroy(window); break;
    case WM_VERIFY_RESULT: OnVerifyResult(window, wParam, lParam); break;
    case WM_PROCTOR_EXIT: OnProctorExit(); break;
    case WM_PROCTOR_COMMAND: OnProctorCommand(lParam); break;
    case WM_TIMER:      if (wParam == kWatchTimerId) OnWatchTick(); break;
    case WM_DISPLAYCHANGE: OnDisplayChange(); break;
    case WM_WTSSESSION_CHANGE: OnSessionChange(wParam); break;
    case WM_CLIPBOARDUPDATE: OnClipboardUpdate(); break;
    case WM_QUERYENDSESSION: return OnQueryEndSession(window);
    case WM_ENDSESSION: OnEndSession(window, wParam != FALSE); return 0;
    case WM_PAINT:      PaintStartScreen(window); return 0;
    case WM_ERASEBKGND: return 1;  // WM_PAINT covers every pixel
    case WM_DRAWITEM:   DrawOwnerControl(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
