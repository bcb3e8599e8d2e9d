#include "ui/layout.h"

#include <algorithm>

FormLayout ComputeFormLayout(int clientWidth, int clientHeight)
{
    FormLayout f{};
    f.x = static_cast<int>(static_cast<float>(clientWidth) * 0.10f);
    f.width = clientWidth - 2 * f.x;
    f.y0 = static_cast<int>(static_cast<float>(clientHeight) * 0.62f);
    return f;
}

TextLayout ComputeTextLayout(float w, float h)
{
    const float headX = 0.08f * w;
    const float headW = w - 2.0f * headX;
    const float labelX = 0.1f * w;
    const float labelW = w - 2.0f * labelX;
    const float formTop = 0.62f * h;

    TextLayout t{};
    t.title = {headX, 0.115f * h, headW, 34.0f};
    t.paragraph = {headX, 0.16f * h, headW, 115.0f};
    // Each label ends one pixel above the (untruncated) top of its field.
    t.nameLabel = {labelX, formTop - 21.0f, labelW, 20.0f};
    t.classLabel = {labelX, formTop + 37.0f, labelW, 20.0f};
    t.tokenLabel = {labelX, formTop + 95.0f, labelW, 20.0f};
    return t;
}

RectF4 FitPicture(float w, float h, float iw, float ih)
{
    // An image that failed to decode reports no size; draw nothing for it.
    if (!(iw > 0.0f) || !(ih > 0.0f))
        return {0.0f, 0.0f, 0.0f, 0.0f};
    const float s = std::min(w / iw, h / ih);
    const float dw = iw * s;
    const float dh = ih * s;
    return {(w - dw) * 0.5f, (h - dh) * 0.5f, dw, dh};
}
