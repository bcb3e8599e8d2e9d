// Painting of the start screen: the picture, the title, the paragraph and the
// field labels, composed off-screen and copied to the window in one step.
#pragma once

#include "ui/gdiplus_inc.h"

#include <string>

// Decodes the background JPEG (RCDATA 101). Null when the resource or a stream
// over it cannot be had; an undecodable picture still gives an image object
// (it reports no size and draws nothing). The caller deletes it.
Gdiplus::Image* LoadBgImageFromResource(HINSTANCE instance);

// Text with a near-opaque white halo: eight copies 1.2 px around it, then the text.
void DrawShadowedText(Gdiplus::Graphics& graphics, const std::wstring& text,
                      const Gdiplus::Font& font, const Gdiplus::RectF& rect,
                      const Gdiplus::StringFormat& format, const Gdiplus::Color& color);

// WM_PAINT of the start screen. Everything is made anew on each paint.
void PaintStartScreen(HWND window);
