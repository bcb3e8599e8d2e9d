#include "ui/owner_draw.h"

#include "res/resource.h"
#include "ui/gdiplus_inc.h"
#include "ui/texts.h"

namespace {

void CentreBoth(Gdiplus::StringFormat& format)
{
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
}

// Flat blue with a gold border, darker while pressed. Disabled and focused
// look the same as normal on purpose: no state but "pressed" changes it.
void DrawStartButton(Gdiplus::Graphics& g, const DRAWITEMSTRUCT& item, float w, float h)
{
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const Gdiplus::RectF rect(static_cast<float>(item.rcItem.left),
                              static_cast<float>(item.rcItem.top), w - 1.0f, h - 1.0f);

    const Gdiplus::SolidBrush fill(Gdiplus::Color(pressed ? 0xFF1E40AF : 0xFF1D4ED8));
    g.FillRectangle(&fill, rect);
    const Gdiplus::Pen border(Gdiplus::Color(0xFFD4AF37), 1.5f);
    g.DrawRectangle(&border, rect);

    wchar_t text[128] = {};
    GetWindowTextW(item.hwndItem, text, 127);

    const Gdiplus::FontFamily family(L"Segoe UI");
    const Gdiplus::Font font(&family, 11.5f, Gdiplus::FontStyleBold, Gdiplus::UnitPoint);
    const Gdiplus::SolidBrush ink(Gdiplus::Color(0xFFFFFFFF));
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    CentreBoth(format);
    g.DrawString(text, -1, &font, rect, &format, &ink);
}

void DrawRulesLink(Gdiplus::Graphics& g, const DRAWITEMSTRUCT& item, float w, float h)
{
    const Gdiplus::RectF rect(static_cast<float>(item.rcItem.left),
                              static_cast<float>(item.rcItem.top), w, h);
    const Gdiplus::SolidBrush fill(Gdiplus::Color(0xE6F1F5F9));
    g.FillRectangle(&fill, rect);

    const Gdiplus::FontFamily family(L"Segoe UI");
    const Gdiplus::Font font(&family, 9.0f, Gdiplus::FontStyleBold | Gdiplus::FontStyleUnderline,
                             Gdiplus::UnitPoint);
    const Gdiplus::SolidBrush ink(Gdiplus::Color(0xFF1E3A8A));
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    CentreBoth(format);
    g.DrawString(kTextRulesLink, -1, &font, rect, &format, &ink);
}

}  // namespace

void DrawOwnerControl(const DRAWITEMSTRUCT& item)
{
    Gdiplus::Graphics g(item.hDC);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    const float w = static_cast<float>(item.rcItem.right - item.rcItem.left);
    const float h = static_cast<float>(item.rcItem.bottom - item.rcItem.top);

    if (item.CtlID == IDC_BTN_START)
        DrawStartButton(g, item, w, h);
    else if (item.CtlID == IDC_BTN_RULES)
        DrawRulesLink(g, item, w, h);
}
