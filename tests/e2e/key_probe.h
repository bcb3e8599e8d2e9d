// A window of the driver's own that keys are typed into, recording which key
// messages reach it: the "other program" in front during an exam.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace probe {

struct KeyEvent {
    bool down;
    WORD vk;  // left/right variants folded: VK_MENU, VK_CONTROL, VK_SHIFT
    bool operator==(const KeyEvent&) const = default;
};
std::wstring Describe(const std::vector<KeyEvent>& events);

class KeyProbe {
public:
    explicit KeyProbe(const wchar_t* cls = L"OrvelDriverProbe", DWORD exStyle = 0);
    ~KeyProbe();
    KeyProbe(const KeyProbe&) = delete;
    KeyProbe& operator=(const KeyProbe&) = delete;

    HWND Window() const { return window_; }
    // Injects the inputs and then a marker stroke, and returns every key
    // message that reached the window before the marker did. Input is handled
    // in order, so whatever was let through has arrived by then.
    std::vector<KeyEvent> Deliver(const std::vector<INPUT>& inputs, DWORD timeoutMs = 5000);

private:
    HWND window_ = nullptr;
};

// Handles the driver thread's window messages for a while.
void Pump(DWORD ms);

}  // namespace probe
