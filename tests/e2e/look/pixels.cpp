#include "pixels.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace look {

int Distance(Rgb a, Rgb b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

Rgb Blend(Rgb over, int alpha, Rgb under)
{
    auto mix = [alpha](int o, int u) { return (o * alpha + u * (255 - alpha) + 127) / 255; };
    return {mix(over.r, under.r), mix(over.g, under.g), mix(over.b, under.b)};
}

bool NearWhite(Rgb c, int minChannel)
{
    return c.r >= minChannel && c.g >= minChannel && c.b >= minChannel;
}

std::ostream& operator<<(std::ostream& out, Rgb c)
{
    char text[16];
    std::snprintf(text, sizeof(text), "#%02X%02X%02X", c.r & 0xFF, c.g & 0xFF, c.b & 0xFF);
    return out << text;
}

Capture Capture::Screen(const RECT& screenRect)
{
    Capture shot;
    const int w = screenRect.right - screenRect.left;
    const int h = screenRect.bottom - screenRect.top;
    if (w <= 0 || h <= 0)
        return shot;

    HDC screen = GetDC(nullptr);
    if (!screen)
        return shot;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    if (dib && memory && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        if (BitBlt(memory, 0, 0, w, h, screen, screenRect.left, screenRect.top, SRCCOPY | CAPTUREBLT)) {
            GdiFlush();
            const auto* p = static_cast<const std::uint32_t*>(bits);
            shot.pixels_.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            // The DIB's fourth byte is not a colour: drop it.
            std::transform(p, p + shot.pixels_.size(), shot.pixels_.begin(),
                           [](std::uint32_t v) { return v & 0x00FFFFFFu; });
            shot.rect_ = screenRect;
        }
        SelectObject(memory, old);
    }
    if (memory)
        DeleteDC(memory);
    if (dib)
        DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return shot;
}

bool Capture::Contains(int x, int y) const
{
    return x >= rect_.left && x < rect_.right && y >= rect_.top && y < rect_.bottom;
}

Rgb Capture::At(int x, int y) const
{
    if (!Contains(x, y))
        return {-1000, -1000, -1000};  // far from every colour: a check on it fails
    const std::uint32_t v =
        pixels_[static_cast<std::size_t>(y - rect_.top) * static_cast<std::size_t>(Width()) +
                static_cast<std::size_t>(x - rect_.left)];
    return FromHex(v);
}

bool Capture::SameAs(const Capture& other) const
{
    return EqualRect(&rect_, &other.rect_) && pixels_ == other.pixels_;
}

ClientShot ClientShot::Of(HWND window)
{
    ClientShot shot;
    RECT client{};
    if (!GetClientRect(window, &client))
        return shot;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    shot.origin_ = {client.left, client.top};
    shot.capture_ = Capture::Screen(client);
    return shot;
}

bool ClientShot::SameAs(const ClientShot& other) const
{
    return origin_.x == other.origin_.x && origin_.y == other.origin_.y &&
           capture_.SameAs(other.capture_);
}

}  // namespace look
