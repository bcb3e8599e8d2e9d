// A stand-in for Edge/Chrome, used only by the tests and never shipped. The
// bench copies it to a browser's install path in the throw-away prefix and the
// launcher starts it as it would start the browser. It records how it was
// started, covers the screen with a window of the browser's class and ends
// when told, with the exit code it is told.
//
//   ORVEL_STANDIN_DIR=<folder>  <folder>\launch-<pid>.cmdline: the command line as
//                               raw UTF-16LE (no BOM, no terminator), and one line
//                               "<pid>\t<command line>\n" (UTF-8) in launches.log
//   ORVEL_STANDIN_FETCH=1       fetch the form address over HTTPS and show its text
//   ORVEL_STANDIN_CLASS=<name>  the window's class instead of "Chrome_WidgetWin_1"
//                               (a browser's own window of another kind)
//   ORVEL_STANDIN_CHROMIUM=<script>
//                               no window of its own: start Linux Chromium on the form
//                               address through that script (tools/chromium-standin.sh,
//                               as a Windows path) and live exactly as long as it does,
//                               ending with its exit code; Chromium's profile goes to
//                               ORVEL_STANDIN_CHROMIUM_PROFILE (a Linux folder), its
//                               status files to ORVEL_STANDIN_CHROMIUM_STATUS (another)
//   --user-data-dir=<folder>    a file "standin-profile" is made in that folder (which
//                               must exist: nothing else is made) and held open while
//                               the process runs, as a browser holds its profile
//   --child                     a program the browser started: a window of 400 x 300,
//                               and no record of a launch
//   WM_CLOSE                    ends the process with 0
//   WM_APP + 7, wParam = code   ends the process with that code
//   WM_APP + 9                  starts a --child copy of itself (in the same job, as a
//                               browser's own processes are); answers its process id, 0
//                               if it could not
//   WM_APP + 10                 puts text on the clipboard, this window its owner (a copy
//                               in the form); Ctrl+C in its window does the same
//   WM_APP + 14                 swaps in a staged update: starts a copy of itself with the
//                               same command line and --relaunched (in the same job; no
//                               record of a launch), answers its process id (0 if it could
//                               not), then ends with 0
//   WM_APP + 11                 keeps this window above every other, without activating it
//   WM_APP + 12, lParam = HWND  from now on posts each key and mouse button message this
//                               window receives to that window, as WM_APP + 30 with the
//                               message in wParam and its wParam in lParam
//   WM_APP + 13, wParam = x,    puts the pointer there itself (see the driver's MouseTo:
//   lParam = y                  under Wine only this program can move X's pointer
//                               while its full-screen window is in front)
#include <windows.h>
#include <shellapi.h>
#include <winhttp.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr UINT kMsgExit = WM_APP + 7;  // wParam: the exit code
constexpr UINT kMsgPage = WM_APP + 8;  // lParam: std::wstring* (the page's text), ours to delete
constexpr UINT kMsgStartChild = WM_APP + 9;
constexpr UINT kMsgCopy = WM_APP + 10;
constexpr UINT kMsgOnTop = WM_APP + 11;
constexpr UINT kMsgRelayTo = WM_APP + 12;
constexpr UINT kMsgPointerTo = WM_APP + 13;
constexpr UINT kMsgRelaunch = WM_APP + 14;
constexpr UINT kMsgRelayed = WM_APP + 30;

std::wstring g_address;
std::wstring g_page;  // the fetched page's text or a status line; empty without a fetch
HFONT g_headFont, g_addressFont, g_bodyFont;
UINT g_exitCode = 0;
HWND g_relayTo = nullptr;

std::wstring Env(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

void RecordLaunch(const std::wstring& commandLine)
{
    std::wstring dir = Env(L"ORVEL_STANDIN_DIR");
    if (dir.empty())
        return;
    if (dir.back() != L'\\' && dir.back() != L'/')
        dir += L'\\';
    const DWORD pid = GetCurrentProcessId();
    // Written aside and moved in place, so a reader never sees half of it.
    const std::wstring final = dir + L"launch-" + std::to_wstring(pid) + L".cmdline";
    const std::wstring temp = final + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const bool ok = WriteAll(file, commandLine.data(), static_cast<DWORD>(commandLine.size() * sizeof(wchar_t)));
        CloseHandle(file);
        if (!ok || !MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            DeleteFileW(temp.c_str());
    }
    // One write of the whole line: appends of several stand-ins do not interleave.
    const std::string line = std::to_string(pid) + "\t" + Utf8(commandLine) + "\n";
    HANDLE log = CreateFileW((dir + L"launches.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        WriteAll(log, line.data(), static_cast<DWORD>(line.size()));
        CloseHandle(log);
    }
}

// The argument after --kiosk, split as the browser splits its command line.
std::wstring FormAddress(const wchar_t* commandLine)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    std::wstring address;
    for (int i = 1; argv && i + 1 < argc; ++i) {
        if (wcscmp(argv[i], L"--kiosk") == 0) {
            address = argv[i + 1];
            break;
        }
    }
    LocalFree(argv);
    return address;
}

// The value of a --name=value argument, split as the browser splits its command line.
std::wstring Argument(const wchar_t* commandLine, const std::wstring& name)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    std::wstring value;
    const std::wstring prefix = name + L"=";
    for (int i = 1; argv && i < argc; ++i) {
        if (wcsncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            value = argv[i] + prefix.size();
            break;
        }
    }
    LocalFree(argv);
    return value;
}

bool HasArgument(const wchar_t* commandLine, const wchar_t* name)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
    bool found = false;
    for (int i = 1; argv && i < argc && !found; ++i)
        found = wcscmp(argv[i], name) == 0;
    LocalFree(argv);
    return found;
}

// A file of its own in the profile folder, open until the process ends.
void HoldProfileFile(const std::wstring& folder)
{
    if (folder.empty())
        return;
    HANDLE file = CreateFileW((folder + L"\\standin-profile").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const char text[] = "browser stand-in profile\r\n";
        DWORD written = 0;
        WriteFile(file, text, sizeof(text) - 1, &written, nullptr);
    }
}

// Starts `cmd` and lets it run; its process id, or 0.
DWORD Start(std::wstring cmd)
{
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

DWORD StartChild()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return Start(L"\"" + std::wstring(self) + L"\" --child");
}

// The successor a browser's update starts before the old process exits.
DWORD Relaunch()
{
    return Start(std::wstring(GetCommandLineW()) + L" --relaunched");
}

void CopyToClipboard(HWND window)
{
    static const wchar_t kText[] = L"jawaban dari formulir";
    if (!OpenClipboard(window))
        return;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(kText));
    if (memory) {
        memcpy(GlobalLock(memory), kText, sizeof(kText));
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory))
            GlobalFree(memory);
    }
    CloseClipboard();
}

bool IsInputMessage(UINT msg)
{
    return (msg >= WM_KEYDOWN && msg <= WM_SYSKEYUP && msg != WM_CHAR && msg != WM_DEADCHAR && msg != WM_SYSCHAR &&
            msg != WM_SYSDEADCHAR) ||
           (msg >= WM_LBUTTONDOWN && msg <= WM_MOUSEWHEEL) || (msg >= WM_XBUTTONDOWN && msg <= WM_XBUTTONDBLCLK);
}

// The page's text, crudely: no tags, scripts or styles, the common entities
// decoded, runs of blanks as one, a line break at the end of each block.
std::wstring PageText(const std::wstring& html)
{
    std::wstring lower = html;
    for (auto& c : lower)
        c = static_cast<wchar_t>(towlower(c));
    std::wstring out;
    auto blank = [&] {
        if (!out.empty() && out.back() != L' ' && out.back() != L'\n')
            out += L' ';
    };
    // Blocks and <br> may end a line twice over (a blank line), list items once.
    auto lineBreak = [&](bool once) {
        while (!out.empty() && out.back() == L' ')
            out.pop_back();
        if (!out.empty() && !out.ends_with(once ? L"\n" : L"\n\n"))
            out += L'\n';
    };
    static const std::wstring kBlocks = L" p br div h1 h2 h3 h4 h5 h6 ul ol table form fieldset legend "
                                        L"section article header footer main nav hr pre blockquote ";
    static const std::wstring kItems = L" li tr dt dd option ";
    static const std::wstring kCells = L" td th input select textarea button ";
    size_t i = 0;
    while (i < html.size()) {
        const wchar_t c = html[i];
        if (c == L'<') {
            if (lower.compare(i, 4, L"<!--") == 0) {
                const size_t end = lower.find(L"-->", i + 4);
                i = end == std::wstring::npos ? html.size() : end + 3;
                continue;
            }
            const size_t end = html.find(L'>', i);
            if (end == std::wstring::npos)
                break;
            size_t n = i + 1 + (html[i + 1] == L'/');
            const size_t nameStart = n;
            while (n < end && iswalnum(lower[n]))
                ++n;
            const std::wstring name = lower.substr(nameStart, n - nameStart);
            i = end + 1;
            if (name == L"script" || name == L"style" || name == L"title") {
                if (html[nameStart - 1] == L'/')
                    continue;
                const size_t close = lower.find(L"</" + name, i);
                i = close == std::wstring::npos ? html.size() : lower.find(L'>', close);
                i = i == std::wstring::npos ? html.size() : i + 1;
            } else if (!name.empty() && kBlocks.find(L" " + name + L" ") != std::wstring::npos) {
                lineBreak(false);
            } else if (!name.empty() && kItems.find(L" " + name + L" ") != std::wstring::npos) {
                lineBreak(true);
            } else if (!name.empty() && kCells.find(L" " + name + L" ") != std::wstring::npos) {
                blank();
            }
        } else if (c == L'&') {
            static const struct { const wchar_t* name; wchar_t ch; } kEntities[] = {
                {L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&#39;", L'\''}, {L"&nbsp;", L' '}};
            wchar_t decoded = L'&';
            size_t length = 1;
            for (const auto& e : kEntities) {
                if (lower.compare(i, wcslen(e.name), e.name) == 0) {
                    decoded = e.ch;
                    length = wcslen(e.name);
                    break;
                }
            }
            if (decoded == L' ')
                blank();
            else
                out += decoded;
            i += length;
        } else {
            if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f')
                blank();
            else
                out += c;
            ++i;
        }
    }
    while (!out.empty() && (out.back() == L' ' || out.back() == L'\n'))
        out.pop_back();
    return out;
}

struct Internet {
    HINTERNET h;
    ~Internet() { if (h) WinHttpCloseHandle(h); }
};

std::wstring Failure() { return L"Halaman tidak dapat dimuat (kode " + std::to_wstring(GetLastError()) + L")"; }

// GET over WinHTTP with the certificate checks left as they are (all on).
std::wstring Fetch(const std::wstring& url)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return Failure();
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    Internet session{WinHttpOpen(L"ORVEL-browser-standin/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0)};
    Internet connection{session.h ? WinHttpConnect(session.h, host.c_str(), parts.nPort, 0) : nullptr};
    Internet request{connection.h ? WinHttpOpenRequest(connection.h, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                       WINHTTP_DEFAULT_ACCEPT_TYPES, secure)
                                  : nullptr};
    if (!request.h || !WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.h, nullptr))
        return Failure();
    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    std::string body;
    for (DWORD available = 0; body.size() < (4u << 20); ) {
        if (!WinHttpQueryDataAvailable(request.h, &available))
            return Failure();
        if (available == 0)
            break;
        const size_t at = body.size();
        body.resize(at + available);
        DWORD got = 0;
        if (!WinHttpReadData(request.h, body.data() + at, available, &got))
            return Failure();
        body.resize(at + got);
    }
    std::wstring html(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, body.data(), static_cast<int>(body.size()), nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, body.data(), static_cast<int>(body.size()), html.data(), static_cast<int>(html.size()));
    const std::wstring text = PageText(html);
    return status == 200 ? text : L"HTTP " + std::to_wstring(status) + L"\n\n" + text;
}

HFONT Font(int pixels, int weight)
{
    return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

void Paint(HWND window)
{
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    const int margin = 48;
    const UINT flags = DT_LEFT | DT_NOPREFIX | DT_WORDBREAK | DT_EDITCONTROL;

    HBRUSH band = CreateSolidBrush(RGB(0x1F, 0x3A, 0x5F));
    RECT top{0, 0, client.right, 6};
    FillRect(dc, &top, band);
    DeleteObject(band);

    HGDIOBJ old = SelectObject(dc, g_headFont);
    SetTextColor(dc, RGB(0x1F, 0x3A, 0x5F));
    RECT r{margin, 32, client.right - margin, 80};
    DrawTextW(dc, L"Browser ujian (pengganti untuk uji)", -1, &r, flags | DT_SINGLELINE);

    // The address in a pale rounded bar, as a browser's address field.
    RECT bar{margin, 92, client.right - margin, 136};
    HBRUSH pale = CreateSolidBrush(RGB(0xF1, 0xF3, 0xF4));
    HGDIOBJ oldBrush = SelectObject(dc, pale);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    RoundRect(dc, bar.left, bar.top, bar.right, bar.bottom, 22, 22);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pale);
    SelectObject(dc, g_addressFont);
    SetTextColor(dc, RGB(0x3C, 0x40, 0x43));
    RECT inBar{bar.left + 18, bar.top, bar.right - 18, bar.bottom};
    DrawTextW(dc, g_address.empty() ? L"(tanpa alamat)" : g_address.c_str(), -1, &inBar,
              DT_LEFT | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);

    if (!g_page.empty()) {
        SelectObject(dc, g_bodyFont);
        SetTextColor(dc, RGB(0x20, 0x21, 0x24));
        RECT body{margin, 164, client.right - margin, client.bottom - margin};
        DrawTextW(dc, g_page.c_str(), -1, &body, flags | DT_EXPANDTABS | DT_END_ELLIPSIS);
    }
    SelectObject(dc, old);
    EndPaint(window, &ps);
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (g_relayTo && IsInputMessage(msg))
        PostMessageW(g_relayTo, kMsgRelayed, msg, static_cast<LPARAM>(wParam));
    switch (msg) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case kMsgPage: {
        auto* text = reinterpret_cast<std::wstring*>(lParam);
        g_page = std::move(*text);
        delete text;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    case kMsgExit:
        g_exitCode = static_cast<UINT>(wParam);
        DestroyWindow(window);
        return 0;
    case kMsgStartChild:
        return static_cast<LRESULT>(StartChild());
    case kMsgCopy:
        CopyToClipboard(window);
        return 0;
    case WM_KEYDOWN:
        if (wParam == 'C' && GetKeyState(VK_CONTROL) < 0)
            CopyToClipboard(window);
        break;
    case kMsgRelaunch: {
        const DWORD successor = Relaunch();
        if (successor)
            PostMessageW(window, kMsgExit, 0, 0);
        return static_cast<LRESULT>(successor);
    }
    case kMsgOnTop:
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return 0;
    case kMsgRelayTo:
        g_relayTo = reinterpret_cast<HWND>(lParam);
        return 0;
    case kMsgPointerTo:
        SetCursorPos(static_cast<int>(wParam), static_cast<int>(lParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(static_cast<int>(g_exitCode));
        return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

// Runs real Chromium through the script and waits for its exit status, which
// the script writes when Chromium ends (or ends it when this process is gone).
int RunChromium(const std::wstring& script, const std::wstring& address)
{
    // In ORVEL_STANDIN_CHROMIUM_STATUS (a Linux folder, /tmp by default),
    // named by this process's id and start time: Windows ids repeat across
    // Wine prefixes. Wine starts the script detached, so it cannot watch this
    // process; it watches a file this process keeps open instead, which closes
    // however the process ends.
    std::wstring folder = Env(L"ORVEL_STANDIN_CHROMIUM_STATUS");
    if (folder.empty())
        folder = L"/tmp";
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const std::wstring status = folder + L"/orvel-chromium-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(now.QuadPart) + L".status";
    DeleteFileW((L"Z:" + status).c_str());
    HANDLE alive = CreateFileW((L"Z:" + status + L".alive").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, CREATE_ALWAYS, 0, nullptr);
    if (alive == INVALID_HANDLE_VALUE)
        return 1;
    std::wstring profile = Env(L"ORVEL_STANDIN_CHROMIUM_PROFILE");
    if (profile.empty())
        profile = L"/tmp/orvel-chromium-profile";
    std::wstring cmd = L"\"" + script + L"\" \"" + status + L"\" \"" + profile + L"\" \"" + address + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 1;
    // Under Wine the handles of a Unix process are null: the status file is the only word from it.
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    const std::wstring statusWin = L"Z:" + status;
    for (;;) {
        HANDLE f = CreateFileW(statusWin.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            char text[16] = {};
            DWORD got = 0;
            ReadFile(f, text, sizeof(text) - 1, &got, nullptr);
            CloseHandle(f);
            return static_cast<int>(strtol(text, nullptr, 10));
        }
        Sleep(200);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const wchar_t* commandLine = GetCommandLineW();
    const bool child = HasArgument(commandLine, L"--child");
    if (!child && !HasArgument(commandLine, L"--relaunched"))
        RecordLaunch(commandLine);
    g_address = FormAddress(commandLine);
    const std::wstring chromium = Env(L"ORVEL_STANDIN_CHROMIUM");
    if (!chromium.empty())
        return RunChromium(chromium, g_address);
    HoldProfileFile(Argument(commandLine, L"--user-data-dir"));

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    std::wstring windowClass = Env(L"ORVEL_STANDIN_CLASS");
    if (windowClass.empty())
        windowClass = L"Chrome_WidgetWin_1";
    wc.lpszClassName = windowClass.c_str();
    if (!RegisterClassExW(&wc))
        return 1;
    g_headFont = Font(30, FW_SEMIBOLD);
    g_addressFont = Font(18, FW_NORMAL);
    g_bodyFont = Font(18, FW_NORMAL);

    const bool fetch = Env(L"ORVEL_STANDIN_FETCH") == L"1";
    if (fetch)
        g_page = L"Memuat halaman...";
    const std::wstring title = child ? L"Program anak browser" : L"Ujian - " + g_address;
    HWND window = child ? CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_POPUP | WS_VISIBLE, 200, 150, 400, 300,
                                          nullptr, nullptr, instance, nullptr)
                        : CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_POPUP | WS_VISIBLE, 0, 0,
                                          GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                          instance, nullptr);
    if (!window)
        return 1;
    SetForegroundWindow(window);
    if (fetch) {
        // Detached: a fetch still under way does not keep the process from ending.
        std::thread([window, url = g_address] {
            auto* text = new std::wstring(url.empty() ? L"Tidak ada alamat untuk dimuat" : Fetch(url));
            if (!PostMessageW(window, kMsgPage, 0, reinterpret_cast<LPARAM>(text)))
                delete text;
        }).detach();
    }

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
