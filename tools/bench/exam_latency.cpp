// How long an exam takes to start and to end, each the median of RUNS exams
// in one run of the program, printed beside a floor measured in the same run:
//
//   exam-latency APP_EXE STANDIN_EXE [RUNS]
//
// 1. Start: from the verify reply leaving the test server (it holds the reply
//    until this tool lets it go; the server's "answered" mark is the moment
//    it was sent, on the same clock) to the control bar's colour on the
//    screen. Floor: CreateProcessW of the stand-in browser to its window's
//    colour on the screen.
// 2. End: from "Yes" in the finish confirmation to the start screen's start
//    button on the screen. Floor: ShowWindow of a hidden window of this tool
//    to its colour on the screen.
// Needs the local test server (ORVEL_SERVER_DIR_WIN) and the stand-in at
// Edge's path, as tools/bench-startup.sh sets them up. Prints figures only.
#include "browser_control.h"
#include "driver.h"
#include "exam_server_control.h"
#include "measure.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr Rgb kBarColour{0x0F, 0x17, 0x2A};
constexpr Rgb kStartButtonColour{0x1D, 0x4E, 0xD8};

// The Unix time of a file's last write, in milliseconds, on the system clock.
double WrittenAtMs(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    ULARGE_INTEGER t{};
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<double>(t.QuadPart) / 10000.0;
}

double SystemNowMs()
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    ULARGE_INTEGER t{};
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    return static_cast<double>(t.QuadPart) / 10000.0;
}

// When the server sent its one answer since the requests were last cleared.
double WhenAnswered()
{
    WIN32_FIND_DATAW found;
    for (int i = 0; i < 500; ++i) {
        HANDLE h = FindFirstFileW((server::Dir() + L"\\answered\\0*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            FindClose(h);
            return WrittenAtMs(server::Dir() + L"\\answered\\" + found.cFileName);
        }
        Sleep(10);
    }
    return -1;
}

template <typename Pred>
bool Until(Pred ok, double limitMs = 20000)
{
    const double end = NowMs() + limitMs;
    while (NowMs() < end) {
        if (ok())
            return true;
        Sleep(0);
    }
    return false;
}

bool ColourAt(ScreenPixel& pixel, POINT p, Rgb colour)
{
    return Distance(pixel.At(p.x, p.y), colour) <= 12;
}

POINT Inside(HWND window, int dx, int dy)
{
    RECT r{};
    GetWindowRect(window, &r);
    return {r.left + dx, r.top + dy};
}

LRESULT CALLBACK FloorProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcW(w, m, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: exam-latency APP_EXE STANDIN_EXE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? _wtoi(argv[3]) : 10;
    if (server::Dir().empty()) {
        std::fprintf(stderr, "exam-latency: no test server (ORVEL_SERVER_DIR_WIN)\n");
        return 2;
    }
    server::Reset();
    browser::StartRecording();
    ScreenPixel pixel;

    // Floors first: the stand-in from CreateProcessW to its window's white.
    std::vector<double> browserFloor, showFloor, startMs, endMs;
    for (int i = 0; i < runs; ++i) {
        PROCESS_INFORMATION pi{};
        std::wstring cmd = L"\"" + std::wstring(argv[2]) + L"\" --kiosk \"about:blank\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        const double t0 = NowMs();
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            break;
        HWND window = nullptr;
        if (Until([&] {
                window = window ? window : driver::FindTopWindow(pi.dwProcessId, L"Chrome_WidgetWin_1");
                return window && ColourAt(pixel, Inside(window, 400, 400), {0xFF, 0xFF, 0xFF});
            }))
            browserFloor.push_back(NowMs() - t0);
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        Sleep(200);
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = FloorProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = CreateSolidBrush(RGB(0x1D, 0x4E, 0xD8));
    wc.lpszClassName = L"LatencyFloor";
    RegisterClassW(&wc);
    for (int i = 0; i < runs; ++i) {
        HWND w = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 200, 200, 300, 200, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        const double t0 = NowMs();
        ShowWindow(w, SW_SHOW);
        if (Until([&] {
                MSG m;
                while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&m);
                return ColourAt(pixel, {350, 300}, kStartButtonColour);
            }))
            showFloor.push_back(NowMs() - t0);
        DestroyWindow(w);
        Sleep(100);
    }

    driver::App app;
    if (!driver::Launch(app, argv[1])) {
        std::fprintf(stderr, "exam-latency: the start screen did not appear\n");
        return 1;
    }
    auto field = [&](int id, const wchar_t* text) {
        SendMessageW(GetDlgItem(app.main, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    };
    field(101, L"Budi");
    field(102, L"5A");
    field(103, L"ABC");
    for (int i = 0; i < runs; ++i) {
        const std::string release = "release-latency-" + std::to_string(i);
        server::Answer accept;
        accept.body = R"({"ok":true,"formUrl":"https://localhost/demo/form"})";
        accept.holdUntil = release;
        server::SetAnswers({{"/api/exam/verify", accept}});
        server::ClearRequests();
        PostMessageW(GetDlgItem(app.main, 104), BM_CLICK, 0, 0);
        if (server::WaitForRequests("/api/exam/verify", 1, 10000).empty())
            break;
        server::Release(release);
        HWND bar = nullptr;
        if (!Until([&] {
                bar = bar ? bar : driver::FindTopWindow(app.pi.dwProcessId, L"CBTControlBar");
                return bar && ColourAt(pixel, Inside(bar, 136, 20), kBarColour);
            }))
            break;
        const double seen = SystemNowMs();
        const double sent = WhenAnswered();
        if (sent > 0)
            startMs.push_back(seen - sent);

        Sleep(1500);  // the exam runs a moment
        PostMessageW(GetDlgItem(bar, 201), BM_CLICK, 0, 0);
        HWND confirm = driver::WaitForMessageBox(app.pi.dwProcessId, L"Konfirmasi Selesai Ujian", 10000);
        if (!confirm)
            break;
        RECT button{};
        GetWindowRect(GetDlgItem(app.main, 104), &button);
        const POINT startButton{(button.left + button.right) / 2, button.top + 4};
        const double t0 = NowMs();
        driver::PressBoxButton(confirm, IDYES);
        if (!Until([&] { return IsWindowVisible(app.main) && ColourAt(pixel, startButton, kStartButtonColour); }))
            break;
        endMs.push_back(NowMs() - t0);
        HWND done = driver::WaitForMessageBox(app.pi.dwProcessId, L"ORVEL SELVARO", 10000);
        if (done) {
            driver::PressBoxButton(done, IDOK);
            driver::WaitUntilGone(done, 3000);
        }
        Sleep(300);
    }
    driver::CloseAndWait(app);

    std::printf("exam start and end (median of %d, in ms)\n", runs);
    std::printf("  verify reply sent -> control bar on screen      %8.1f   floor: CreateProcessW -> stand-in window on screen %8.1f\n",
                Median(startMs), Median(browserFloor));
    std::printf("  Yes in the finish box -> start screen on screen %8.1f   floor: ShowWindow -> window on screen          %8.1f\n",
                Median(endMs), Median(showFloor));
    std::printf("  (%zu starts, %zu ends measured)\n", startMs.size(), endMs.size());
    return startMs.empty() || endMs.empty() ? 1 : 0;
}
