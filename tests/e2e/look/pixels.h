// Reading what is really on the screen: a copy of screen pixels taken with
// BitBlt from the screen's device context, and small colour helpers for
// comparing them with a tolerance.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <utility>
#include <vector>

namespace look {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// 0xAARRGGBB or 0xRRGGBB; the alpha byte is ignored.
constexpr Rgb FromHex(std::uint32_t rgb)
{
    return {static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
            static_cast<int>(rgb & 0xFF)};
}

// Largest difference of one channel.
int Distance(Rgb a, Rgb b);

// `over` with this alpha (0-255) on top of `under`, as source-over blending gives it.
Rgb Blend(Rgb over, int alpha, Rgb under);

// Every channel at least `minChannel`.
bool NearWhite(Rgb c, int minChannel = 250);

std::ostream& operator<<(std::ostream& out, Rgb c);

// A copy of the screen pixels in one rectangle of screen coordinates.
class Capture {
public:
    Capture() = default;
    // BitBlt of that rectangle from the screen DC into a 32-bit DIB section.
    static Capture Screen(const RECT& screenRect);

    bool Empty() const { return pixels_.empty(); }
    const RECT& Rect() const { return rect_; }
    int Width() const { return rect_.right - rect_.left; }
    int Height() const { return rect_.bottom - rect_.top; }
    bool Contains(int x, int y) const;
    // Pixel at a screen point inside Rect().
    Rgb At(int x, int y) const;
    bool SameAs(const Capture& other) const;

private:
    RECT rect_{};
    std::vector<std::uint32_t> pixels_;  // 0x00RRGGBB, top row first
};

// The client area of a window as it is on the screen, read in client coordinates.
class ClientShot {
public:
    ClientShot() = default;
    static ClientShot Of(HWND window);

    bool Empty() const { return capture_.Empty(); }
    int Width() const { return capture_.Width(); }
    int Height() const { return capture_.Height(); }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < Width() && y < Height(); }
    Rgb At(int x, int y) const { return capture_.At(origin_.x + x, origin_.y + y); }
    POINT Origin() const { return origin_; }
    bool SameAs(const ClientShot& other) const;

private:
    POINT origin_{};
    Capture capture_;
};

// Waits until the client area looks the same in two captures 100 ms apart and
// `ready` accepts it; the last capture goes to `out`. False on time-out.
template <typename Ready>
bool WaitForSteadyClient(HWND window, ClientShot& out, Ready ready, DWORD timeoutMs = 10000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    ClientShot previous = ClientShot::Of(window);
    for (;;) {
        Sleep(100);
        ClientShot now = ClientShot::Of(window);
        if (!now.Empty() && now.SameAs(previous) && ready(now)) {
            out = std::move(now);
            return true;
        }
        if (GetTickCount64() > end) {
            out = std::move(now);
            return false;
        }
        previous = std::move(now);
    }
}

}  // namespace look
