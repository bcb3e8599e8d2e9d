#include "kiosk/pin_prompt.h"

#include "app/globals.h"
#include "kiosk/exam.h"
#include "kiosk/kiosk_texts.h"
#include "kiosk/violation_report.h"
#include "net/text.h"
#include "res/resource.h"

namespace {

constexpr int kPromptWidth = 320, kPromptHeight = 175;

bool g_promptOpen = false;

enum class Answer { None, Submit, Cancel };

HWND MakeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y,
               int w, int h, int id)
{
    return CreateWindowExW(exStyle, cls, text, style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// The prompt looks at raw input before anything is dispatched, so a click on
// its buttons or Enter/Esc anywhere in the thread answers it.
Answer Classify(const MSG& msg, HWND unlock, HWND cancel)
{
    if (msg.message == WM_LBUTTONUP && msg.hwnd == unlock)
        return Answer::Submit;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN)
        return Answer::Submit;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE)
        return Answer::Cancel;
    if (msg.message == WM_LBUTTONUP && msg.hwnd == cancel)
        return Answer::Cancel;
    return Answer::None;
}

bool PinMatches(HWND field)
{
    wchar_t typed[64] = {};
    GetWindowTextW(field, typed, 63);
    return ToUtf8(typed) == g_proctorPin;
}

// The button-up that answered was never dispatched: let the button go, or it
// would keep the mouse and its pressed look.
void ReleaseButton(HWND button)
{
    if (GetCapture() == button)
        ReleaseCapture();
    SendMessageW(button, BM_SETSTATE, FALSE, 0);
}

// Returns true for the right PIN, false on cancel, a vanished prompt or quit.
bool RunPromptLoop(HWND prompt, HWND field, HWND unlock, HWND cancel)
{
    MSG msg{};
    while (IsWindow(prompt)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop
            return false;
        }
        if (got == -1)
            return false;
        switch (Classify(msg, unlock, cancel)) {
        case Answer::Submit:
            ReleaseButton(unlock);
            if (PinMatches(field))
                return true;
            // Each wrong try reaches the proctor, apart from the watch's
            // spacing: every try is a deliberate act.
            if (g_examActive.load())
                ReportViolation(ViolationKind::WrongPin);
            MessageBoxW(prompt, kTextWrongPin, kCaptionWrongPin, MB_ICONWARNING);
            break;
        case Answer::Cancel:
            ReleaseButton(cancel);
            return false;
        case Answer::None:
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            break;
        }
    }
    return false;
}

}  // namespace

bool IsProctorPromptOpen()
{
    return g_promptOpen;
}

bool PromptProctorPin(HWND owner)
{
    // A window of the system dialog class, without template or dialog
    // procedure: the loop below is all the behaviour it has.
    HWND prompt = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, L"#32770", kTitlePinPrompt,
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, kPromptWidth, kPromptHeight, owner,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!prompt)
        return false;
    g_promptOpen = true;
    SetWindowPos(prompt, HWND_TOPMOST, (GetSystemMetrics(SM_CXSCREEN) - kPromptWidth) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - kPromptHeight) / 2, kPromptWidth, kPromptHeight, SWP_SHOWWINDOW);

    MakeChild(prompt, L"STATIC", kTextPinLabel, WS_CHILD | WS_VISIBLE, 0, 20, 18, 270, 22, 0);
    HWND field = MakeChild(prompt, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_NUMBER | ES_PASSWORD,
                           WS_EX_CLIENTEDGE, 20, 46, 265, 28, IDC_PIN_EDIT);
    HWND unlock = MakeChild(prompt, L"BUTTON", kTextUnlock, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 0, 20, 92,
                            125, 32, IDOK);
    HWND cancel = MakeChild(prompt, L"BUTTON", kTextCancel, WS_CHILD | WS_VISIBLE, 0, 160, 92, 125, 32, IDCANCEL);
    // Showing it does not always make it the foreground window (the browser
    // had the keyboard): ask, so the PIN typed goes into the prompt.
    SetForegroundWindow(prompt);
    SetFocus(field);
    EnableWindow(owner, FALSE);

    const bool unlocked = RunPromptLoop(prompt, field, unlock, cancel);

    // The prompt goes first, then the owner takes input again.
    if (IsWindow(prompt))
        DestroyWindow(prompt);
    g_promptOpen = false;
    EnableWindow(owner, TRUE);
    return unlocked;
}
