// Geometry of the start screen: where the form controls sit, where the texts
// are drawn and how the background picture is fitted. All of it is plain
// arithmetic on the client size, kept apart from drawing so it can be tested.
#pragma once

struct RectF4 {
    float x;
    float y;
    float width;
    float height;
};

// Form controls, in whole client pixels.
struct FormLayout {
    int x;       // left edge of every control
    int width;   // width of every control
    int y0;      // top of the name field
};

FormLayout ComputeFormLayout(int clientWidth, int clientHeight);

// Offsets of each control's top from y0, and their heights.
inline constexpr int kNameFieldDy = 0;
inline constexpr int kClassFieldDy = 58;
inline constexpr int kTokenFieldDy = 116;
inline constexpr int kFieldHeight = 30;
inline constexpr int kStartButtonDy = 160;
inline constexpr int kStartButtonHeight = 38;
inline constexpr int kRulesLinkDy = 204;
inline constexpr int kRulesLinkHeight = 24;

// Rectangles of the painted texts, in float client pixels, never rounded.
struct TextLayout {
    RectF4 title;
    RectF4 paragraph;
    RectF4 nameLabel;
    RectF4 classLabel;
    RectF4 tokenLabel;
};

TextLayout ComputeTextLayout(float clientWidth, float clientHeight);

// The whole picture scaled to touch two opposite edges, centred.
RectF4 FitPicture(float clientWidth, float clientHeight, float imageWidth, float imageHeight);
