#include "key_probe.h"

#include "driver.h"

#include <cstdio>
#include <string>

namespace probe {

namespace {

constexpr WORD kMarker = VK_F8;  // passes every rule
// Of the stand-in browser (tests/standin/browser_standin.cpp).
constexpr UINT kRelayTo = WM_APP + 12, kRelayed = WM_APP + 30;
constexpr wchar_t kPlainClass[] = L"OrvelDriverProbe";
constexpr wchar_t kCoverClass[] = L"OrvelDriverCover";

WORD Fold(WORD vk)
{
    switch (vk) {
    case VK_LMENU: case VK_RMENU: return VK_MENU;
    case VK_LCONTROL: case VK_RCONTROL: return VK_CONTROL;
    case VK_LSHIFT: case VK_RSHIFT: return VK_SHIFT;
    default: return vk;
    }
}

KeyEvent MouseEventOf(UINT message, WPARAM wParam)
{
    switch (message) {
    // A second click soon after the first is a double click in a window of a
    // class that asks for them (the dialog class does): still a press.
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: return {true, VK_LBUTTON};
    case WM_LBUTTONUP: return {false, VK_LBUTTON};
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: return {true, VK_RBUTTON};
    case WM_RBUTTONUP: return {false, VK_RBUTTON};
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: return {true, VK_MBUTTON};
    case WM_MBUTTONUP: return {false, VK_MBUTTON};
    case WM_MOUSEWHEEL: return {true, kWheel};
    default: {
        const WORD button = GET_XBUTTON_WPARAM(wParam) == XBUTTON1 ? VK_XBUTTON1 : VK_XBUTTON2;
        return {message != WM_XBUTTONUP, button};
    }
    }
}

KeyProbe* ProbeOf(HWND window)
{
    return reinterpret_cast<KeyProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// What a window made of an input message, as recorded.
void Record(KeyProbe* probe, UINT message, WPARAM wParam)
{
    if (!probe)
        return;
    if (message >= WM_KEYDOWN && message <= WM_SYSKEYUP) {
        if (message != WM_CHAR && message != WM_DEADCHAR)
            probe->events_.push_back({message == WM_KEYDOWN || message == WM_SYSKEYDOWN, Fold(static_cast<WORD>(wParam))});
        return;
    }
    probe->events_.push_back(MouseEventOf(message, wParam));
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kRelayed:  // what the followed browser window received
        Record(ProbeOf(window), static_cast<UINT>(wParam), static_cast<WPARAM>(lParam));
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Record(ProbeOf(window), message, wParam);
        return 0;  // no menu mode, no Alt+F4 close
    case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN: case WM_XBUTTONUP: case WM_XBUTTONDBLCLK:
    case WM_MOUSEWHEEL:
        Record(ProbeOf(window), message, wParam);
        return message >= WM_XBUTTONDOWN && message <= WM_XBUTTONDBLCLK;  // no back or forward
    case WM_CLOSE:
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void Register(const wchar_t* cls)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = cls;
    RegisterClassW(&wc);  // a second probe finds it registered
}

}  // namespace

std::wstring Describe(const std::vector<KeyEvent>& events)
{
    std::wstring out;
    for (const auto& e : events) {
        wchar_t item[32];
        swprintf(item, 32, L"%ls%02X ", e.down ? L"+" : L"-", e.vk);
        out += item;
    }
    return out;
}

KeyProbe::KeyProbe(Kind kind)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    switch (kind) {
    case Kind::Plain:
        Register(kPlainClass);
        window_ = CreateWindowExW(0, kPlainClass, L"Driver probe", WS_POPUP | WS_CAPTION, 60, 200, 420, 220, nullptr,
                                  nullptr, instance, nullptr);
        break;
    case Kind::Dialog:
        // The system's dialog class, its keys taken before its own procedure.
        window_ = CreateWindowExW(0, L"#32770", L"Driver dialog probe", WS_POPUP | WS_CAPTION, 60, 200, 420, 220,
                                  nullptr, nullptr, instance, nullptr);
        dialogProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProbeProc)));
        break;
    case Kind::Cover:
        Register(kCoverClass);
        window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, kCoverClass, L"Driver cover",
                                  WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
        break;
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(window_, kind == Kind::Cover ? SW_SHOWNA : SW_SHOW);
    Pump(0);
}

KeyProbe::~KeyProbe()
{
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    if (dialogProc_)
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(dialogProc_));
    DestroyWindow(window_);
    Pump(0);
}

void KeyProbe::Follow(HWND browser)
{
    followed_ = browser;
    ShowWindow(window_, SW_HIDE);
    Pump(0);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(browser, kRelayTo, 0, reinterpret_cast<LPARAM>(window_), SMTO_ABORTIFHUNG, 5000, &ignored);
}

HWND KeyProbe::Window()
{
    if (followed_ && !IsWindow(followed_)) {
        followed_ = nullptr;
        ShowWindow(window_, SW_SHOW);
        Pump(0);
    }
    return followed_ ? followed_ : window_;
}

std::vector<KeyEvent> KeyProbe::Deliver(const std::vector<INPUT>& inputs, DWORD timeoutMs)
{
    Pump(0);  // strokes typed earlier, while the window was in front, are not this call's
    events_.clear();
    return ThroughMarker(inputs, timeoutMs);
}

std::vector<KeyEvent> KeyProbe::Received(DWORD timeoutMs)
{
    return ThroughMarker({}, timeoutMs);
}

std::vector<KeyEvent> KeyProbe::ThroughMarker(const std::vector<INPUT>& inputs, DWORD timeoutMs)
{
    std::vector<INPUT> all = inputs;
    for (const INPUT& marker : driver::Chord({kMarker}))
        all.push_back(marker);
    // All at once: faster than any fingers, so the hook cannot lean on a key
    // state that lags behind the strokes.
    const HWND frontBefore = GetForegroundWindow();
    SendInput(static_cast<UINT>(all.size()), all.data(), sizeof(INPUT));
    const KeyEvent markerDown{true, kMarker}, markerUp{false, kMarker};
    driver::WaitFor([&] {
        Pump(0);
        return !events_.empty() && events_.back() == markerUp;
    }, timeoutMs);
    std::vector<KeyEvent> events;
    events.swap(events_);
    if (events.size() >= 2 && events.back() == markerUp && events[events.size() - 2] == markerDown)
        events.resize(events.size() - 2);
    else
    {
        events.push_back({true, 0xFFFF});  // the marker never came: make it show
        // Where the keys went instead, for the failure's reader.
        const auto describe = [](HWND w) {
            wchar_t cls[64] = L"";
            DWORD pid = 0;
            if (w) {
                GetClassNameW(w, cls, 63);
                GetWindowThreadProcessId(w, &pid);
            }
            return std::wstring(cls) + L" of process " + std::to_wstring(pid);
        };
        fwprintf(stderr, L"[probe] no marker at %ls (this process %lu): in front before the keys %ls, after %ls\n",
                 describe(Window()).c_str(), GetCurrentProcessId(), describe(frontBefore).c_str(),
                 describe(GetForegroundWindow()).c_str());
    }
    return events;
}

void Pump(DWORD ms)
{
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms)
            Sleep(5);
    } while (GetTickCount64() < end);
}

}  // namespace probe
