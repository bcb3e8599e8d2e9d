// What the benchmarks measure with: a clock, medians and screen pixels.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace bench {

inline double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return -1.0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return -1.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

struct Rgb {
    int r, g, b;
};

inline int Distance(Rgb a, Rgb b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// One screen pixel through BitBlt from the screen DC.
class ScreenPixel {
public:
    ScreenPixel()
    {
        screen_ = GetDC(nullptr);
        memory_ = CreateCompatibleDC(screen_);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = 1;
        info.bmiHeader.biHeight = -1;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dib_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        old_ = SelectObject(memory_, dib_);
    }
    ~ScreenPixel()
    {
        SelectObject(memory_, old_);
        DeleteObject(dib_);
        DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    Rgb At(int x, int y)
    {
        BitBlt(memory_, 0, 0, 1, 1, screen_, x, y, SRCCOPY);
        GdiFlush();
        const DWORD v = *bits_;
        return {static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
    }

private:
    HDC screen_ = nullptr, memory_ = nullptr;
    HBITMAP dib_ = nullptr;
    HGDIOBJ old_ = nullptr;
    DWORD* bits_ = nullptr;
};

}  // namespace bench
