// A window of the driver's own that keys are typed into, recording which key
// messages reach it: the "other program" in front during an exam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

// A key or mouse button going down or up, or a turn of the wheel.
struct KeyEvent {
    bool down;
    // Left/right variants folded: VK_MENU, VK_CONTROL, VK_SHIFT. Mouse
    // buttons as VK_LBUTTON, VK_RBUTTON, VK_MBUTTON, VK_XBUTTON1/2; the wheel
    // as kWheel (down).
    WORD vk;
    bool operator==(const KeyEvent&) const = default;
};
inline constexpr WORD kWheel = 0x0A;  // a reserved key code, never a key's
std::wstring Describe(const std::vector<KeyEvent>& events);

// A window of the driver's, plain or of the dialog class "#32770": in front
// during an exam it counts as leaving it, whatever its class (the driver is
// another program). A cover is shown without taking the foreground. To try
// keys and clicks in front of an exam without a violation, follow the exam's
// browser.
enum class Kind { Plain, Dialog, Cover };

class KeyProbe {
public:
    explicit KeyProbe(Kind kind = Kind::Plain);
    ~KeyProbe();
    KeyProbe(const KeyProbe&) = delete;
    KeyProbe& operator=(const KeyProbe&) = delete;

    // The window the keys and clicks go to: the followed one while it exists,
    // else the probe's own (shown again once the followed one is gone).
    HWND Window();
    // Records what the stand-in browser's window `browser` receives (it
    // tells this probe's window) in the place of the probe's own, for as long
    // as that window exists. The probe's own is hidden meanwhile: no click
    // meant for the browser can land on it.
    void Follow(HWND browser);
    // Injects the inputs and then a marker stroke, and returns every key
    // message that reached the window before the marker did. Input is handled
    // in order, so whatever was let through has arrived by then.
    std::vector<KeyEvent> Deliver(const std::vector<INPUT>& inputs, DWORD timeoutMs = 5000);
    // Every key message that reached the window since the last Deliver or
    // Received, through a marker stroke of its own (the window must be in front).
    std::vector<KeyEvent> Received(DWORD timeoutMs = 5000);

    std::vector<KeyEvent> events_;  // all that arrived, for the window procedure

private:
    std::vector<KeyEvent> ThroughMarker(const std::vector<INPUT>& inputs, DWORD timeoutMs);

    HWND window_ = nullptr;
    HWND followed_ = nullptr;
    WNDPROC dialogProc_ = nullptr;
};

// Handles the driver thread's window messages for a while.
void Pump(DWORD ms);

}  // namespace probe
