// The start screen as it really is on the screen: the real exe runs under the
// same wineserver and the driver reads the screen's pixels (BitBlt from the
// screen DC) at points taken from the sizes worked out by hand for the start
// screen's client on each test screen, with tolerances.
#include "../driver.h"
#include "../exam_server_control.h"
#include "pixels.h"

#include "ui/gdiplus_inc.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace look;

namespace {

constexpr int kName = 101, kClass = 102, kToken = 103, kStart = 104, kRules = 105;

constexpr Rgb kNavy = FromHex(0x061A40);
constexpr Rgb kStartFill = FromHex(0x1D4ED8);
constexpr Rgb kStartPressed = FromHex(0x1E40AF);
constexpr Rgb kGold = FromHex(0xD4AF37);
constexpr Rgb kLinkFill = FromHex(0xF1F5F9);
constexpr int kLinkAlpha = 0xE6;
constexpr Rgb kLinkInk = FromHex(0x1E3A8A);
constexpr Rgb kHeading = FromHex(0x0B1F4D);
constexpr Rgb kBody = FromHex(0x0F172A);
constexpr Rgb kWhite = FromHex(0xFFFFFF);

constexpr int kPictureWidth = 941, kPictureHeight = 1672;

// A rectangle in float client pixels.
struct RectF4 {
    float x, y, width, height;
};

// Where everything sits on the start screen's client under the test prefix's
// frame, worked out by hand (the form's and the picture's numbers are those
// of the layout unit test): the form at 10% of the width, the name field at
// 62% of the height; the title at 11.5% and the paragraph at 16% of the
// height, 8% in from the sides; each label 21 px above the untruncated top of
// its field; the 941 x 1672 picture scaled whole and centred.
struct Worked {
    int clientWidth, clientHeight;
    int formX, formWidth, formY0;
    RectF4 title, paragraph, nameLabel, classLabel, tokenLabel;
    RectF4 picture;
};
constexpr Worked kWorked[] = {
    {404, 650, 40, 324, 403,  // 1366 x 768
     {32.32f, 74.75f, 339.36f, 34.0f}, {32.32f, 104.0f, 339.36f, 115.0f}, {40.4f, 382.0f, 323.2f, 20.0f},
     {40.4f, 440.0f, 323.2f, 20.0f}, {40.4f, 498.0f, 323.2f, 20.0f}, {19.09f, 0.0f, 365.82f, 650.0f}},
    {447, 815, 44, 359, 505,  // 1920 x 1080
     {35.76f, 93.725f, 375.48f, 34.0f}, {35.76f, 130.4f, 375.48f, 115.0f}, {44.7f, 484.3f, 357.6f, 20.0f},
     {44.7f, 542.3f, 357.6f, 20.0f}, {44.7f, 600.3f, 357.6f, 20.0f}, {0.0f, 10.38f, 447.0f, 794.24f}},
};
// The start and rules buttons below the name field's top, and their heights.
constexpr int kStartDy = 160, kStartHeight = 38, kRulesDy = 204, kRulesHeight = 24;

std::wstring NoBackgroundPath()
{
    return driver::BuildFile(L"orvel-cbt-nobg.exe");
}

// A rectangle of whole client pixels, right and bottom exclusive.
struct Box {
    int left, top, right, bottom;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

Box Around(const RectF4& r, int marginX, int marginY)
{
    return {static_cast<int>(std::floor(r.x)) - marginX, static_cast<int>(std::floor(r.y)) - marginY,
            static_cast<int>(std::ceil(r.x + r.width)) + marginX,
            static_cast<int>(std::ceil(r.y + r.height)) + marginY};
}

Box Around(const RECT& r, int margin)
{
    return {r.left - margin, r.top - margin, r.right + margin, r.bottom + margin};
}

Box Clip(Box b, int w, int h)
{
    return {std::max(b.left, 0), std::max(b.top, 0), std::min(b.right, w), std::min(b.bottom, h)};
}

std::string Where(int x, int y)
{
    char text[32];
    std::snprintf(text, sizeof(text), "(%d,%d)", x, y);
    return text;
}

// The background picture decoded from the exe's resource, to know what the
// picture has at the place a screen pixel comes from.
class Picture {
public:
    bool Load(const std::wstring& exePath)
    {
        static ULONG_PTR token = 0;
        if (!token) {
            const Gdiplus::GdiplusStartupInput input;
            if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
                return false;
        }
        HMODULE exe = LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!exe)
            return false;
        bool ok = false;
        if (HRSRC info = FindResourceW(exe, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10))) {
            const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(exe, info)));
            if (IStream* stream = SHCreateMemStream(bytes, SizeofResource(exe, info))) {
                Gdiplus::Bitmap bitmap(stream, FALSE);
                width_ = static_cast<int>(bitmap.GetWidth());
                height_ = static_cast<int>(bitmap.GetHeight());
                Gdiplus::Rect all(0, 0, width_, height_);
                Gdiplus::BitmapData data{};
                if (width_ > 0 && bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &data) == Gdiplus::Ok) {
                    pixels_.resize(static_cast<std::size_t>(width_) * height_);
                    for (int y = 0; y < height_; ++y)
                        std::copy_n(reinterpret_cast<const std::uint32_t*>(static_cast<const BYTE*>(data.Scan0) + y * data.Stride),
                                    width_, pixels_.begin() + static_cast<std::ptrdiff_t>(y) * width_);
                    bitmap.UnlockBits(&data);
                    ok = true;
                }
                stream->Release();
            }
        }
        FreeLibrary(exe);
        return ok;
    }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Whether `c` lies, channel by channel, within the range the picture spans
    // in a square of `radius` picture pixels around (sx, sy), widened by `tolerance`.
    bool Explains(Rgb c, float sx, float sy, float radius, int tolerance) const
    {
        const int x0 = std::clamp(static_cast<int>(std::floor(sx - radius)), 0, width_ - 1);
        const int x1 = std::clamp(static_cast<int>(std::ceil(sx + radius)), 0, width_ - 1);
        const int y0 = std::clamp(static_cast<int>(std::floor(sy - radius)), 0, height_ - 1);
        const int y1 = std::clamp(static_cast<int>(std::ceil(sy + radius)), 0, height_ - 1);
        Rgb lo{255, 255, 255}, hi{0, 0, 0};
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const Rgb p = FromHex(pixels_[static_cast<std::size_t>(y) * width_ + x]);
                lo = {std::min(lo.r, p.r), std::min(lo.g, p.g), std::min(lo.b, p.b)};
                hi = {std::max(hi.r, p.r), std::max(hi.g, p.g), std::max(hi.b, p.b)};
            }
        auto in = [tolerance](int v, int l, int h) { return v >= l - tolerance && v <= h + tolerance; };
        return in(c.r, lo.r, hi.r) && in(c.g, lo.g, hi.g) && in(c.b, lo.b, hi.b);
    }

private:
    int width_ = 0, height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

// A plain magenta window of the driver's own laid over part of the screen.
class Cover {
public:
    static constexpr Rgb kColour = FromHex(0xFF00FF);
    explicit Cover(const RECT& screenRect)
    {
        static ATOM cls = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
            wc.lpszClassName = L"LookTestCover";
            return RegisterClassW(&wc);
        }();
        window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, MAKEINTATOM(cls), L"", WS_POPUP,
                                  screenRect.left, screenRect.top, screenRect.right - screenRect.left,
                                  screenRect.bottom - screenRect.top, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        UpdateWindow(window_);
    }
    ~Cover() { Remove(); }
    void Remove()
    {
        if (window_)
            DestroyWindow(window_);
        window_ = nullptr;
        Pump();
    }
    bool Shown() const { return window_ != nullptr; }
    static void Pump()
    {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }

private:
    HWND window_ = nullptr;
};

// What one painted text looks like on the screen.
struct TextStats {
    int ink = 0;               // pixels of the ink colour
    int inkEdges = 0;          // ink pixels next to a pixel that is not ink
    int edgesByHalo = 0;       // of those, the ones with a halo pixel within 3 px
    Box inkBox{1 << 20, 1 << 20, -1, -1};
};

// Ink: pixels of the ink colour with another one next to them (a lone pixel
// of about that colour is a blend at some edge). Halo: pixels with every
// channel at least haloMin.
TextStats MeasureText(const ClientShot& shot, Box region, Rgb inkColour, int haloMin)
{
    region = Clip(region, shot.Width(), shot.Height());
    auto inkColoured = [&](int x, int y) {
        if (!region.Contains(x, y))
            return false;
        // Closer to the ink than to the clear colour, which the heading
        // colour is near: a faint halo edge over navy is not ink.
        const Rgb c = shot.At(x, y);
        return Distance(c, inkColour) <= 6 && Distance(c, inkColour) < Distance(c, kNavy);
    };
    auto isInk = [&](int x, int y) {
        if (!inkColoured(x, y))
            return false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dx || dy) && inkColoured(x + dx, y + dy))
                    return true;
        return false;
    };
    TextStats s;
    for (int y = region.top; y < region.bottom; ++y)
        for (int x = region.left; x < region.right; ++x) {
            if (!isInk(x, y))
                continue;
            ++s.ink;
            s.inkBox = {std::min(s.inkBox.left, x), std::min(s.inkBox.top, y),
                        std::max(s.inkBox.right, x + 1), std::max(s.inkBox.bottom, y + 1)};
            if (isInk(x - 1, y) && isInk(x + 1, y) && isInk(x, y - 1) && isInk(x, y + 1))
                continue;
            ++s.inkEdges;
            bool halo = false;
            // The ink's own anti-aliased edge, then the halo at 1.2 px.
            for (int dy = -3; dy <= 3 && !halo; ++dy)
                for (int dx = -3; dx <= 3 && !halo; ++dx)
                    halo = shot.Contains(x + dx, y + dy) && NearWhite(shot.At(x + dx, y + dy), haloMin);
            s.edgesByHalo += halo ? 1 : 0;
        }
    return s;
}

class Look : public ::testing::Test {
protected:
    void TearDown() override
    {
        // A button left held by a failed check is let go away from the window.
        driver::MouseTo({0, 0});
        driver::MouseButton({0, 0}, false);
        if (app.pi.hProcess) {
            EXPECT_EQ(driver::CloseAndWait(app), 0);
        }
    }

    // Starts the exe and waits until its start screen stands still on the screen.
    void Open(const std::wstring& exe)
    {
        ASSERT_TRUE(driver::Launch(app, exe)) << "start screen never appeared";
        ASSERT_TRUE(driver::BringToFront(app.main));
        RECT client{};
        GetClientRect(app.main, &client);
        w = client.right;
        h = client.bottom;
        ASSERT_GT(w, 0);
        ASSERT_GT(h, 0);
        worked = nullptr;
        for (const Worked& row : kWorked)
            if (row.clientWidth == w && row.clientHeight == h)
                worked = &row;
        ASSERT_NE(worked, nullptr) << "no worked sizes for a " << w << "x" << h << " client";
        // The worked rectangles are where the controls really are: every
        // point below is taken from them.
        start = driver::RectInParent(GetDlgItem(app.main, kStart));
        rules = driver::RectInParent(GetDlgItem(app.main, kRules));
        ASSERT_EQ(start.left, worked->formX);
        ASSERT_EQ(start.top, worked->formY0 + kStartDy);
        ASSERT_EQ(start.right - start.left, worked->formWidth);
        ASSERT_EQ(start.bottom - start.top, kStartHeight);
        ASSERT_EQ(rules.left, worked->formX);
        ASSERT_EQ(rules.top, worked->formY0 + kRulesDy);
        ASSERT_EQ(rules.right - rules.left, worked->formWidth);
        ASSERT_EQ(rules.bottom - rules.top, kRulesHeight);
        for (const int id : {kName, kClass, kToken, kStart, kRules})
            controls.push_back(Around(driver::RectInParent(GetDlgItem(app.main, id)), 3));
        ASSERT_TRUE(Steady()) << "the start screen never stood still with its start button drawn";
    }

    // Waits for a still screen whose start button shows its normal fill.
    bool Steady(Rgb buttonFill = kStartFill)
    {
        return WaitForSteadyClient(app.main, shot, [&](const ClientShot& s) {
            return Distance(s.At(start.left + 8, (start.top + start.bottom) / 2), buttonFill) <= 3;
        });
    }

    // Texts (with their halo) and controls: not background.
    bool Covered(int x, int y) const
    {
        for (const RectF4* r : {&worked->title, &worked->paragraph, &worked->nameLabel, &worked->classLabel,
                                &worked->tokenLabel})
            if (Around(*r, 4, 4).Contains(x, y))
                return true;
        for (const Box& b : controls)
            if (b.Contains(x, y))
                return true;
        return false;
    }

    // Blue fill inside, gold on the outermost pixel of each side.
    void ExpectStartButton(const ClientShot& s, Rgb fill) const
    {
        const int top = start.top, bottom = start.bottom, left = start.left, right = start.right;
        const int midY = (top + bottom) / 2;
        const int midX = (left + right) / 2;
        // The caption is centred: left and right quarters hold plain fill.
        for (const int y : {top + 4, top + 12, midY, bottom - 12, bottom - 5})
            for (const int x : {left + 4, left + 20, left + 50, right - 50, right - 20, right - 5})
                EXPECT_LE(Distance(s.At(x, y), fill), 3) << "fill at " << Where(x, y) << " is " << s.At(x, y);
        for (int t = 6; t < 40; t += 8) {
            const int y = start.top + t * (start.bottom - start.top) / 40;
            EXPECT_LE(Distance(s.At(start.left, y), kGold), 24) << "left edge at y " << y << ": " << s.At(start.left, y);
            EXPECT_LE(Distance(s.At(start.right - 1, y), kGold), 24) << "right edge at y " << y << ": " << s.At(start.right - 1, y);
            const int x = start.left + t * (start.right - start.left) / 40;
            EXPECT_LE(Distance(s.At(x, start.top), kGold), 24) << "top edge at x " << x << ": " << s.At(x, start.top);
            EXPECT_LE(Distance(s.At(x, start.bottom - 1), kGold), 24) << "bottom edge at x " << x << ": " << s.At(x, start.bottom - 1);
        }
        // The white caption, centred on the button.
        const TextStats caption = MeasureText(s, Around(start, -3), kWhite, 255);
        EXPECT_GE(caption.ink, 80) << "white caption pixels on the start button";
        EXPECT_LE(std::abs((caption.inkBox.left + caption.inkBox.right) / 2 - midX), 3);
        EXPECT_LE(std::abs((caption.inkBox.top + caption.inkBox.bottom) / 2 - midY), 3);
    }

    // The pale band with centred, underlined blue text.
    void ExpectRulesLink(const ClientShot& s) const
    {
        // The button erases itself with the button-face brush before its
        // WM_DRAWITEM (the main window answers no WM_CTLCOLORBTN), so the
        // 230-alpha fill lands on that colour, whatever is behind the window.
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        const Rgb expected = Blend(kLinkFill, kLinkAlpha, Rgb{GetRValue(face), GetGValue(face), GetBValue(face)});
        const int top = rules.top, bottom = rules.bottom, left = rules.left, right = rules.right;
        for (const int y : {top, top + 3, bottom - 4, bottom - 1})
            for (int x = rules.left; x < rules.right; x += 9)
                EXPECT_LE(Distance(s.At(x, y), expected), 3) << "link fill at " << Where(x, y) << " is " << s.At(x, y) << ", not " << expected;
        for (const int x : {left, left + 6, right - 6, right - 1})
            EXPECT_LE(Distance(s.At(x, (rules.top + rules.bottom) / 2), expected), 3);

        const TextStats text = MeasureText(s, Around(rules, 0), kLinkInk, 255);
        EXPECT_GE(text.ink, 80) << "blue link text pixels";
        const int midX = (rules.left + rules.right) / 2;
        EXPECT_LE(std::abs((text.inkBox.left + text.inkBox.right) / 2 - midX), 3) << "link text centred";
        EXPECT_GE(text.inkBox.Width(), (rules.right - rules.left) / 2) << "the whole link text is drawn";
        EXPECT_GE(text.inkBox.top, rules.top + 2);
        EXPECT_LE(text.inkBox.bottom, rules.bottom - 2);
        // Underlined: in the lowest rows of the text, one runs under the whole text.
        int longest = 0;
        for (int y = text.inkBox.bottom - 4; y < text.inkBox.bottom; ++y) {
            int run = 0;
            for (int x = text.inkBox.left; x < text.inkBox.right; ++x)
                if (Distance(s.At(x, y), kLinkInk) <= 40)
                    longest = std::max(longest, ++run);
                else
                    run = 0;
        }
        EXPECT_GE(longest, text.inkBox.Width() * 9 / 10) << "an underline spans the link text";
    }

    // Each painted text: ink of its colour inside its rectangle, a white halo
    // around the ink, centred or left-aligned as laid out. The halo is the
    // 0xF5 white: over the pale picture at least 250 in every channel; over
    // the navy, where one offset copy alone gives about 245, at least 230.
    void ExpectTexts(const ClientShot& s, int haloMin) const
    {
        struct Row {
            const char* name;
            RectF4 rect;
            Rgb ink;
            bool centred;
            int minInk;
        } const rows[] = {
            {"title", worked->title, kHeading, true, 300},
            {"paragraph", worked->paragraph, kBody, true, 600},
            {"name label", worked->nameLabel, kHeading, false, 100},
            {"class label", worked->classLabel, kHeading, false, 100},
            {"token label", worked->tokenLabel, kHeading, false, 100},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            // The labels end one pixel above their field: look no lower.
            const Box region = Around(row.rect, 2, row.centred ? 2 : 1);
            const TextStats t = MeasureText(s, region, row.ink, haloMin);
            EXPECT_GE(t.ink, row.minInk) << "ink pixels " << t.ink;
            EXPECT_GE(t.edgesByHalo * 20, t.inkEdges * 17)
                << t.edgesByHalo << " of " << t.inkEdges << " ink edge pixels have the white halo next to them";
            if (t.ink == 0)
                continue;
            const Box laid = Around(row.rect, 0, 0);
            EXPECT_GE(t.inkBox.top, laid.top - 1);
            EXPECT_LE(t.inkBox.top, laid.top + 10) << "text starts at the top of its rectangle";
            EXPECT_LE(t.inkBox.bottom, laid.bottom + 1);
            if (row.centred) {
                const float mid = row.rect.x + row.rect.width / 2.0f;
                EXPECT_LE(std::abs(static_cast<float>(t.inkBox.left + t.inkBox.right) / 2.0f - mid), 3.0f)
                    << "centred: ink from " << t.inkBox.left << " to " << t.inkBox.right;
                EXPECT_GE(t.inkBox.Width(), static_cast<int>(row.rect.width / 4));
            } else {
                EXPECT_GE(t.inkBox.left, laid.left) << "left-aligned";
                EXPECT_LE(t.inkBox.left, laid.left + 6) << "left-aligned";
                EXPECT_LT(t.inkBox.right, (laid.left + laid.right) / 2 + 80);
            }
        }
    }

    driver::App app;
    int w = 0, h = 0;
    const Worked* worked = nullptr;
    RECT start{}, rules{};
    std::vector<Box> controls;  // every control, with a margin for its edge
    ClientShot shot;
};

TEST_F(Look, PictureIsFittedWholeAndCentredWithNavyBandsBeside)
{
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    Picture picture;
    ASSERT_TRUE(picture.Load(driver::AppPath()));
    ASSERT_EQ(picture.Width(), kPictureWidth);
    ASSERT_EQ(picture.Height(), kPictureHeight);
    const RectF4 fit = worked->picture;
    const bool aboveAndBelow = fit.y > fit.x;
    std::cout << "client " << w << "x" << h << ": picture " << fit.width << "x" << fit.height << " at ("
              << fit.x << "," << fit.y << "), bands " << (aboveAndBelow ? "above and below" : "left and right")
              << "\n";

    // Whole pixels the picture does not reach and whole pixels it covers.
    const Box inside{static_cast<int>(std::ceil(fit.x)), static_cast<int>(std::ceil(fit.y)),
                     static_cast<int>(std::floor(fit.x + fit.width)), static_cast<int>(std::floor(fit.y + fit.height))};
    const Box outside{static_cast<int>(std::floor(fit.x)), static_cast<int>(std::floor(fit.y)),
                      static_cast<int>(std::ceil(fit.x + fit.width)), static_cast<int>(std::ceil(fit.y + fit.height))};
    ASSERT_GE(aboveAndBelow ? outside.top : outside.left, 3) << "these screens leave bands of clear colour";

    int bandPixels = 0, bandWrong = 0;
    std::string firstWrong;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (outside.Contains(x, y) || Covered(x, y))
                continue;
            ++bandPixels;
            if (Distance(shot.At(x, y), kNavy) > 2 && bandWrong++ == 0)
                firstWrong = Where(x, y) + " " + testing::PrintToString(shot.At(x, y));
        }
    EXPECT_GT(bandPixels, 2 * (aboveAndBelow ? w : h));
    EXPECT_EQ(bandWrong, 0) << "of " << bandPixels << " band pixels not #061A40, first " << firstWrong;

    // One pixel inside each edge the picture is there, pale, not navy.
    int edgeNavy = 0;
    for (int x = inside.left + 1; x < inside.right - 1; x += 3)
        for (const int y : {inside.top, inside.bottom - 1})
            if (!Covered(x, y) && Distance(shot.At(x, y), kNavy) < 100)
                ++edgeNavy;
    for (int y = inside.top + 1; y < inside.bottom - 1; y += 3)
        for (const int x : {inside.left, inside.right - 1})
            if (!Covered(x, y) && Distance(shot.At(x, y), kNavy) < 100)
                ++edgeNavy;
    EXPECT_EQ(edgeNavy, 0) << "edge pixels of the picture that look like the clear colour";

    // Everywhere else the pixels are those of the picture at the place they
    // map to (within the range of its neighbourhood: interpolation differs).
    const float scale = fit.width / static_cast<float>(kPictureWidth);
    int checked = 0, unexplained = 0;
    std::string firstUnexplained;
    for (int y = inside.top; y < inside.bottom; y += 5)
        for (int x = inside.left; x < inside.right; x += 5) {
            if (Covered(x, y))
                continue;
            ++checked;
            const float sx = (static_cast<float>(x) + 0.5f - fit.x) / scale;
            const float sy = (static_cast<float>(y) + 0.5f - fit.y) / scale;
            if (!picture.Explains(shot.At(x, y), sx, sy, 1.5f / scale, 12) && unexplained++ == 0)
                firstUnexplained = Where(x, y) + " " + testing::PrintToString(shot.At(x, y));
        }
    EXPECT_GT(checked, 1000);
    EXPECT_EQ(unexplained, 0) << "of " << checked << " picture points differ from the picture, first " << firstUnexplained;
}

TEST_F(Look, TextsAreDarkInkWithAWhiteHaloInTheirRectangles)
{
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    ExpectTexts(shot, 250);
}

TEST_F(Look, StartButtonIsBlueWithAGoldBorderAndDarkerWhileHeldDown)
{
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    {
        SCOPED_TRACE("at rest");
        ExpectStartButton(shot, kStartFill);
    }

    const POINT origin = shot.Origin();
    const POINT on{origin.x + start.left + 20, origin.y + (start.top + start.bottom) / 2};
    const POINT off{on.x, origin.y + start.top - 40};
    ASSERT_TRUE(driver::MouseTo(on));
    driver::MouseButton(on, true);
    {
        SCOPED_TRACE("held down");
        ASSERT_TRUE(Steady(kStartPressed)) << "no darker fill while the button is held down";
        ExpectStartButton(shot, kStartPressed);
    }
    // Still held, but the pointer moved away: the button lets go of its look.
    ASSERT_TRUE(driver::MouseTo(off));
    EXPECT_TRUE(Steady(kStartFill)) << "pointer off the held button";
    ASSERT_TRUE(driver::MouseTo(on));
    EXPECT_TRUE(Steady(kStartPressed)) << "pointer back on the held button";

    // Let go on it: a click, which warns about the empty fields.
    driver::MouseButton(on, false);
    HWND box = driver::WaitForMessageBox(app.pi.dwProcessId, L"Peringatan");
    ASSERT_NE(box, nullptr) << "releasing on the button clicks it";
    driver::PressBoxButton(box, IDOK);
    ASSERT_TRUE(driver::WaitUntilGone(box, 3000));
    {
        SCOPED_TRACE("released, focused");
        ASSERT_TRUE(Steady(kStartFill)) << "the normal fill never came back";
        ExpectStartButton(shot, kStartFill);
    }
}

TEST_F(Look, WhileVerifyingTheDisabledButtonKeepsItsLookWithTheNewCaption)
{
    ASSERT_FALSE(server::Dir().empty()) << "no local exam server (ORVEL_SERVER_DIR_WIN)";
    server::Reset();
    server::Answer slow;
    slow.body = R"({"ok":false,"error":"Lambat"})";
    slow.holdUntil = "release-look";  // the answer waits until the test has looked
    server::SetAnswers({{"/api/exam/verify", slow}});
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    const int restWidth = MeasureText(shot, Around(start, -3), kWhite, 255).inkBox.Width();

    HWND button = GetDlgItem(app.main, kStart);
    for (const auto& [id, text] : {std::pair{kName, L"Budi"}, {kClass, L"5A"}, {kToken, L"ABC"}})
        SendMessageW(GetDlgItem(app.main, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    PostMessageW(button, BM_CLICK, 0, 0);
    ASSERT_TRUE(driver::WaitFor([&] { return !IsWindowEnabled(button); }, 3000));
    ASSERT_EQ(driver::Text(button), L"Memverifikasi token...");
    ASSERT_EQ(server::WaitForRequests("/api/exam/verify", 1, 5000).size(), 1u);
    {
        SCOPED_TRACE("disabled, verifying");
        ASSERT_TRUE(Steady(kStartFill)) << "a disabled button must keep the normal fill";
        ExpectStartButton(shot, kStartFill);
        EXPECT_GT(MeasureText(shot, Around(start, -3), kWhite, 255).inkBox.Width(), restWidth + 40)
            << "the longer caption is drawn";
    }
    EXPECT_FALSE(IsWindowEnabled(button)) << "the answer is still on its way";

    server::Release("release-look");
    HWND box = driver::WaitForMessageBox(app.pi.dwProcessId, L"Verifikasi Gagal", 10000);
    ASSERT_NE(box, nullptr);
    driver::PressBoxButton(box, IDOK);
    ASSERT_TRUE(driver::WaitUntilGone(box, 3000));
    ASSERT_TRUE(Steady(kStartFill));
    EXPECT_EQ(driver::Text(button), L"Mulai Ujian");
    EXPECT_LE(std::abs(MeasureText(shot, Around(start, -3), kWhite, 255).inkBox.Width() - restWidth), 2);
}

TEST_F(Look, RulesLinkIsAPaleBandWithUnderlinedBlueText)
{
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    ExpectRulesLink(shot);
}

TEST_F(Look, WithoutThePictureTheScreenIsPlainNavyWithEverythingDrawn)
{
    ASSERT_NO_FATAL_FAILURE(Open(NoBackgroundPath()));
    int checked = 0, wrong = 0;
    std::string firstWrong;
    for (int y = 0; y < h; y += 3)
        for (int x = 0; x < w; x += 3) {
            if (Covered(x, y))
                continue;
            ++checked;
            if (Distance(shot.At(x, y), kNavy) > 2 && wrong++ == 0)
                firstWrong = Where(x, y) + " " + testing::PrintToString(shot.At(x, y));
        }
    EXPECT_GT(checked, w * h / 9 / 3);
    EXPECT_EQ(wrong, 0) << "of " << checked << " points not #061A40, first " << firstWrong;

    ExpectTexts(shot, 230);
    ExpectStartButton(shot, kStartFill);
    ExpectRulesLink(shot);
    // The three fields are there as white boxes.
    for (const int id : {kName, kClass, kToken}) {
        const RECT f = driver::RectInParent(GetDlgItem(app.main, id));
        const int y = (f.top + f.bottom) / 2;
        const int left = f.left, right = f.right;
        for (const int x : {left + 8, (left + right) / 2, right - 8})
            EXPECT_TRUE(NearWhite(shot.At(x, y))) << "field " << id << " at " << Where(x, y) << ": " << shot.At(x, y);
    }
}

TEST_F(Look, UncoveringMinimisingAndRepaintingGiveTheSamePixels)
{
    ASSERT_NO_FATAL_FAILURE(Open(driver::AppPath()));
    const ClientShot before = shot;
    auto expectSame = [&](const char* after) {
        int checked = 0, differ = 0;
        std::string first;
        for (int y = 0; y < h; y += 4)
            for (int x = (y / 4) % 4; x < w; x += 4) {
                ++checked;
                if (Distance(shot.At(x, y), before.At(x, y)) > 2 && differ++ == 0)
                    first = Where(x, y) + " " + testing::PrintToString(shot.At(x, y)) + " was " +
                            testing::PrintToString(before.At(x, y));
            }
        EXPECT_EQ(differ, 0) << "after " << after << ": " << differ << " of " << checked
                             << " points changed, first " << first;
    };

    {
        // A window of the driver over the title, the paragraph and the form.
        // (Wine shows the uncovered part again from the window's retained
        // surface without a WM_PAINT; the two steps after this one make the
        // program paint again.)
        const POINT o = before.Origin();
        const RECT over{o.x + w / 6, o.y + h / 10, o.x + w * 5 / 6, o.y + h * 9 / 10};
        Cover cover(over);
        const bool shown = driver::WaitFor([&] {
            Cover::Pump();
            return Capture::Screen(over).At((over.left + over.right) / 2, (over.top + over.bottom) / 2) == Cover::kColour;
        }, 5000);
        ASSERT_TRUE(shown) << "the cover never showed";
        cover.Remove();
        ASSERT_TRUE(Steady()) << "after uncovering";
        expectSame("uncovering");
    }

    ShowWindow(app.main, SW_MINIMIZE);
    ASSERT_TRUE(driver::WaitFor([&] { return IsIconic(app.main) != FALSE; }, 3000));
    ShowWindow(app.main, SW_RESTORE);
    ASSERT_TRUE(driver::WaitFor([&] { return !IsIconic(app.main) && IsWindowVisible(app.main); }, 3000));
    ASSERT_TRUE(driver::BringToFront(app.main));
    ASSERT_TRUE(Steady()) << "after restoring";
    expectSame("minimise and restore");

    // Repaints asked for from outside, of everything and of each owner-drawn
    // control alone, several times: nothing accumulates.
    for (int i = 0; i < 3; ++i) {
        RedrawWindow(app.main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        RedrawWindow(GetDlgItem(app.main, kStart), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        RedrawWindow(GetDlgItem(app.main, kRules), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    ASSERT_TRUE(Steady()) << "after RedrawWindow";
    expectSame("RedrawWindow");
}

}  // namespace
