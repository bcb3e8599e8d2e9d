#include "key_probe.h"

#include "driver.h"

namespace probe {

namespace {

constexpr WORD kMarker = VK_F9;  // passes every rule
std::vector<KeyEvent>* g_events = nullptr;

WORD Fold(WORD vk)
{
    switch (vk) {
    case VK_LMENU: case VK_RMENU: return VK_MENU;
    case VK_LCONTROL: case VK_RCONTROL: return VK_CONTROL;
    case VK_LSHIFT: case VK_RSHIFT: return VK_SHIFT;
    default: return vk;
    }
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        if (g_events)
            g_events->push_back({message == WM_KEYDOWN || message == WM_SYSKEYDOWN, Fold(static_cast<WORD>(wParam))});
        return 0;  // no menu mode, no Alt+F4 close
    case WM_CLOSE:
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
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

KeyProbe::KeyProbe(const wchar_t* cls, DWORD exStyle)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = cls;
    RegisterClassW(&wc);  // a second probe finds it registered
    window_ = CreateWindowExW(exStyle, cls, L"Driver probe", WS_POPUP | WS_CAPTION | WS_VISIBLE, 60, 200, 420, 220,
                              nullptr, nullptr, wc.hInstance, nullptr);
    Pump(50);
}

KeyProbe::~KeyProbe()
{
    DestroyWindow(window_);
    Pump(20);
}

std::vector<KeyEvent> KeyProbe::Deliver(const std::vector<INPUT>& inputs, DWORD timeoutMs)
{
    Pump(0);  // strokes typed earlier, while the window was in front, are not this call's
    std::vector<KeyEvent> events;
    g_events = &events;
    std::vector<INPUT> all = inputs;
    for (const INPUT& marker : driver::Chord({kMarker}))
        all.push_back(marker);
    // All at once: faster than any fingers, so the hook cannot lean on a key
    // state that lags behind the strokes.
    SendInput(static_cast<UINT>(all.size()), all.data(), sizeof(INPUT));
    const KeyEvent markerUp{false, kMarker};
    driver::WaitFor([&] {
        Pump(0);
        return !events.empty() && events.back() == markerUp;
    }, timeoutMs);
    g_events = nullptr;
    if (events.size() >= 2 && events.back() == markerUp && events[events.size() - 2] == KeyEvent{true, kMarker})
        events.resize(events.size() - 2);
    else
        events.push_back({true, 0xFFFF});  // the marker never came: make it show
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
