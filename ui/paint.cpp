#include "ui/paint.h"

#include "app/globals.h"
#include "res/resource.h"
#include "ui/layout.h"
#include "ui/texts.h"

#include <shlwapi.h>

namespace {

Gdiplus::RectF ToRectF(const RectF4& r)
{
    return Gdiplus::RectF(r.x, r.y, r.width, r.height);
}

}  // namespace

Gdiplus::Image* LoadBgImageFromResource(HINSTANCE instance)
{
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(IDR_BACKGROUND), MAKEINTRESOURCEW(10));
    if (!info)
        return nullptr;
    const DWORD size = SizeofResource(instance, info);
    HGLOBAL loaded = LoadResource(instance, info);
    if (!loaded)
        return nullptr;
    const void* bytes = LockResource(loaded);
    if (!bytes)
        return nullptr;
    // The stream holds its own copy, so the image does not depend on the module.
    IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (!stream)
        return nullptr;
    auto* image = new Gdiplus::Image(stream, FALSE);
    stream->Release();
    return image;
}

void DrawShadowedText(Gdiplus::Graphics& graphics, const std::wstring& text,
                      const Gdiplus::Font& font, const Gdiplus::RectF& rect,
                      const Gdiplus::StringFormat& format, const Gdiplus::Color& color)
{
    static const int kOffsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                       {1, 0},   {-1, 1}, {0, 1},  {1, 1}};
    const Gdiplus::SolidBrush halo(Gdiplus::Color(0xF5FFFFFF));
    const Gdiplus::SolidBrush ink(color);
    for (const auto& o : kOffsets) {
        const Gdiplus::RectF moved(rect.X + 1.2f * static_cast<float>(o[0]),
                                   rect.Y + 1.2f * static_cast<float>(o[1]), rect.Width, rect.Height);
        graphics.DrawString(text.c_str(), -1, &font, moved, &format, &halo);
    }
    graphics.DrawString(text.c_str(), -1, &font, rect, &format, &ink);
}

void PaintStartScreen(HWND window)
{
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    RECT client{};
    GetClientRect(window, &client);
    const INT w = client.right - client.left;
    const INT h = client.bottom - client.top;
    const float fw = static_cast<float>(w);
    const float fh = static_cast<float>(h);

    // A zero-sized client gets no buffer, but the paint is still validated.
    if (w > 0 && h > 0) {
        Gdiplus::Bitmap buffer(w, h, PixelFormat32bppPARGB);
        Gdiplus::Graphics back(&buffer);
        back.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        back.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
        back.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        back.Clear(Gdiplus::Color(0xFF061A40));

        if (g_bgImage) {
            const RectF4 fit = FitPicture(fw, fh, static_cast<float>(g_bgImage->GetWidth()),
                                          static_cast<float>(g_bgImage->GetHeight()));
            back.DrawImage(g_bgImage, ToRectF(fit));
        }

        const Gdiplus::FontFamily family(L"Segoe UI");
        const Gdiplus::Font titleFont(&family, 18.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
        const Gdiplus::Font paragraphFont(&family, 9.2f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
        const Gdiplus::Font labelFont(&family, 10.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
        Gdiplus::StringFormat centred(0, LANG_NEUTRAL);
        centred.SetAlignment(Gdiplus::StringAlignmentCenter);
        Gdiplus::StringFormat nearFormat(0, LANG_NEUTRAL);
        nearFormat.SetAlignment(Gdiplus::StringAlignmentNear);

        const Gdiplus::Color heading(0xFF0B1F4D);
        const Gdiplus::Color body(0xFF0F172A);
        const TextLayout t = ComputeTextLayout(fw, fh);
        DrawShadowedText(back, kTextTitle, titleFont, ToRectF(t.title), centred, heading);
        DrawShadowedText(back, kTextParagraph, paragraphFont, ToRectF(t.paragraph), centred, body);
        DrawShadowedText(back, kTextNameLabel, labelFont, ToRectF(t.nameLabel), nearFormat, heading);
        DrawShadowedText(back, kTextClassLabel, labelFont, ToRectF(t.classLabel), nearFormat, heading);
        DrawShadowedText(back, kTextTokenLabel, labelFont, ToRectF(t.tokenLabel), nearFormat, heading);

        Gdiplus::Graphics screen(dc);
        screen.DrawImage(&buffer, 0, 0);
        // Every object goes in reverse order of creation, before EndPaint
        // hands the device context back.
    }
    EndPaint(window, &ps);
}
