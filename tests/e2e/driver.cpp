#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace driver {

namespace {

std::wstring Backslashed(std::wstring path)
{
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

}  // namespace

std::wstring BuildFile(const std::wstring& relative)
{
    const wchar_t* dir = _wgetenv(L"ORVEL_BUILD_DIR");
    return Backslashed(std::wstring(dir ? dir : L".") + L"\\" + relative);
}

std::wstring AppPath()
{
    return BuildFile(L"orvel-cbt.exe");
}

bool StartProgram(std::wstring commandLine, PROCESS_INFORMATION& pi)
{
    for (int attempt = 1;; ++attempt) {
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return true;
        const DWORD error = GetLastError();
        // Under Wine this error means the new process was lost before it ran
        // its first instruction (1 start in some 7,000 with a core busy):
        // nothing of the program ran, so the start is made once more. The
        // line stays in the test's log and the test command counts it.
        const bool lost = error == ERROR_INTERNAL_ERROR && attempt == 1;
        std::fprintf(stderr, "[driver] CreateProcessW failed, error %lu: %ls%s\n", error, commandLine.c_str(),
                     lost ? " (Wine lost the new process before it ran: started once more)" : "");
        std::fflush(stderr);
        if (!lost)
            return false;
    }
}

bool Launch(App& app, const std::wstring& exe)
{
    if (!StartProgram(L"\"" + exe + L"\"", app.pi))
        return false;
    app.main = WaitForTopWindow(app.pi.dwProcessId, L"ORVELCBTMain", nullptr, 15000);
    return app.main != nullptr;
}

long WaitForExit(App& app, DWORD timeoutMs)
{
    if (!app.pi.hProcess)
        return -1;
    if (WaitForSingleObject(app.pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(app.pi.hProcess, &code);
    CloseHandle(app.pi.hProcess);
    CloseHandle(app.pi.hThread);
    app.pi = {};
    return static_cast<long>(code);
}

long CloseAndWait(App& app, DWORD timeoutMs)
{
    if (!app.pi.hProcess)
        return -1;
    if (app.main)
        PostMessageW(app.main, WM_CLOSE, 0, 0);
    const long code = WaitForExit(app, timeoutMs);
    if (code == -1 && app.pi.hProcess) {
        TerminateProcess(app.pi.hProcess, 99);
        WaitForExit(app, 5000);
        return -1;
    }
    return code;
}

namespace {

struct FindArgs {
    DWORD pid;
    const wchar_t* cls;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param)
{
    auto* args = reinterpret_cast<FindArgs*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != args->pid || !IsWindowVisible(window))
        return TRUE;
    if (args->cls && ClassOf(window) != args->cls)
        return TRUE;
    if (args->title && Text(window) != args->title)
        return TRUE;
    args->found = window;
    return FALSE;
}

}  // namespace

HWND FindTopWindow(DWORD pid, const wchar_t* cls, const wchar_t* title)
{
    FindArgs args{pid, cls, title, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&args));
    return args.found;
}

HWND WaitForTopWindow(DWORD pid, const wchar_t* cls, const wchar_t* title, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopWindow(pid, cls, title)) != nullptr; }, timeoutMs);
    return found;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs)
{
    return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

HWND WaitForMessageBox(DWORD pid, const wchar_t* caption, DWORD timeoutMs)
{
    return WaitForTopWindow(pid, L"#32770", caption, timeoutMs);
}

std::wstring MessageBoxText(HWND box)
{
    return Text(GetDlgItem(box, 0xFFFF));
}

void SettleDisplay(HWND window)
{
    DWORD_PTR ignored = 0;
    // The window's thread handles its messages, and so sends X what it had
    // to send; a screen read is a round trip to X, after which X has handled
    // it and told each program what follows from it; the window's thread
    // then handles that too.
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored);
    HDC screen = GetDC(nullptr);
    GetPixel(screen, 0, 0);
    ReleaseDC(nullptr, screen);
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &ignored);
}

void PressBoxButton(HWND box, int id)
{
    SettleDisplay(box);
    PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(f);
    return bytes;
}

std::wstring Text(HWND window)
{
    // GetWindowTextW does not ask a window of another process for its text
    // (an edit control would report its initial text): send WM_GETTEXT.
    if (!window)
        return {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length))
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 3000, &got);
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[128] = {};
    GetClassNameW(window, name, 127);
    return name;
}

RECT ClientRectOnScreen(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT RectInParent(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HWND FocusOf(HWND top)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

bool WaitForFocus(HWND top, HWND expected, DWORD timeoutMs)
{
    return WaitFor([&] { return FocusOf(top) == expected; }, timeoutMs);
}

bool BringToFront(HWND top)
{
    // Under Wine without a window manager each program moves the X focus
    // itself, and a program that loses the X focus while Wine still has its
    // window in front hands the foreground to the desktop. A focus change a
    // program asked for earlier can reach the X server late (when that
    // program next looks at its events) and take the focus from `top` after
    // it came to the front. So put the window in front until it stays there
    // over three rounds in which every program that held the foreground
    // during this call, `top`'s own and this thread have handled their events.
    std::vector<HWND> holders;
    int steady = 0;
    const ULONGLONG end = GetTickCount64() + 5000;
    while (GetTickCount64() < end) {
        const HWND previous = GetForegroundWindow();
        if (previous && previous != top && std::find(holders.begin(), holders.end(), previous) == holders.end())
            holders.push_back(previous);
        if (previous != top && !SetForegroundWindow(top))
            Sleep(15);
        HandleOwnMessages();
        for (HWND w : holders) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(top, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        HandleOwnMessages();
        steady = GetForegroundWindow() == top && previous == top ? steady + 1 : 0;
        if (steady == 3)
            return true;
        if (steady)
            Sleep(5);  // a pause between looks, not the condition
    }
    return false;
}

namespace {

INPUT Key(WORD vk, bool up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    // Wine finds the character through the scan code, as a real keyboard sends it.
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

}  // namespace

void PressKey(WORD vk, bool shift)
{
    std::vector<INPUT> keys;
    if (shift)
        keys.push_back(Key(VK_SHIFT, false));
    keys.push_back(Key(vk, false));
    keys.push_back(Key(vk, true));
    if (shift)
        keys.push_back(Key(VK_SHIFT, true));
    SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

std::vector<INPUT> Chord(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (const WORD vk : keys)
        inputs.push_back(Key(vk, false));
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
        inputs.push_back(Key(*it, true));
    return inputs;
}

INPUT KeyInput(WORD vk, bool down)
{
    return Key(vk, !down);
}

INPUT MouseInput(DWORD flags, DWORD data)
{
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    in.mi.mouseData = data;
    return in;
}

void PressChord(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs = Chord(keys);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

bool MouseTo(POINT p)
{
    // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = (p.x * 65536 + sw - 1) / sw;
    in.mi.dy = (p.y * 65536 + sh - 1) / sh;
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    // Wine moves X's pointer only for a new place set with SetCursorPos, not
    // for injected input: a window mapped later under X's pointer (a prompt
    // in the middle of the screen) would bring that place back between a
    // press and its release. So X's pointer goes there first; the injected
    // move then reaches the hooks as a person's would.
    // Under Wine a full-screen window in front makes its program hold X's
    // pointer, and no other program may move it then: the stand-in browser
    // moves it itself (a real Windows has no such hold).
    HWND front = GetForegroundWindow();
    DWORD frontPid = 0;
    GetWindowThreadProcessId(front, &frontPid);
    RECT fr{};
    if (front && frontPid != GetCurrentProcessId() && GetWindowRect(front, &fr) && fr.left <= 0 && fr.top <= 0 &&
        fr.right >= sw && fr.bottom >= sh && ClassOf(front) == L"Chrome_WidgetWin_1") {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(front, WM_APP + 13, static_cast<WPARAM>(p.x), static_cast<LPARAM>(p.y), SMTO_ABORTIFHUNG,
                            3000, &ignored);
    }
    SetCursorPos(p.x, p.y);
    SendInput(1, &in, sizeof(in));
    // Under Wine a press right after the move can go where the pointer was
    // before it: the caller presses only once the pointer is there.
    return WaitFor([&] {
        POINT at{};
        GetCursorPos(&at);
        return std::abs(at.x - p.x) <= 1 && std::abs(at.y - p.y) <= 1;
    }, 3000);
}

void MouseButton(POINT at, bool down)
{
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = (at.x * 65536 + sw - 1) / sw;
    in.mi.dy = (at.y * 65536 + sh - 1) / sh;
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP);
    SendInput(1, &in, sizeof(in));
}

void ClickWindow(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    const POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    // A press elsewhere would be another click than the test's.
    if (!MouseTo(centre))
        return;
    // Under load Wine can put its pointer back where X last saw it (a window
    // just mapped under that place tells its program late): the press and
    // the release carry their place, as a real mouse's do.
    MouseButton(centre, true);
    MouseButton(centre, false);
}

void HandleOwnMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

HWND OwnerOf(HWND window)
{
    return GetWindow(window, GW_OWNER);
}

void TypeText(const std::wstring& text)
{
    for (const wchar_t c : text) {
        INPUT in[2] = {};
        in[0].type = INPUT_KEYBOARD;
        in[0].ki.wScan = c;
        in[0].ki.dwFlags = KEYEVENTF_UNICODE;
        in[1] = in[0];
        in[1].ki.dwFlags |= KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
    }
}

}  // namespace driver
