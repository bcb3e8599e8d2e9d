#include "ui/layout.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const RectF4& r, float x, float y, float w, float h, const char* what)
{
    EXPECT_FLOAT_EQ(r.x, x) << what;
    EXPECT_FLOAT_EQ(r.y, y) << what;
    EXPECT_FLOAT_EQ(r.width, w) << what;
    EXPECT_FLOAT_EQ(r.height, h) << what;
}

struct FormRow {
    int clientWidth, clientHeight;
    int x, width, y0;
};

TEST(ComputeFormLayout, TruncatesToWholePixels)
{
    const FormRow rows[] = {
        {440, 800, 44, 352, 496},
        {437, 801, 43, 351, 496},   // 43.7 -> 43, 496.62 -> 496
        {394, 644, 39, 316, 399},
        {404, 650, 40, 324, 403},   // the 1366 x 768 start screen under Wine
        {447, 815, 44, 359, 505},   // the 1920 x 1080 one
        {0, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        const FormLayout f = ComputeFormLayout(r.clientWidth, r.clientHeight);
        EXPECT_EQ(f.x, r.x) << r.clientWidth << "x" << r.clientHeight;
        EXPECT_EQ(f.width, r.width) << r.clientWidth << "x" << r.clientHeight;
        EXPECT_EQ(f.y0, r.y0) << r.clientWidth << "x" << r.clientHeight;
    }
}

TEST(ComputeTextLayout, MatchesTheWorked440By800Example)
{
    const TextLayout t = ComputeTextLayout(440.0f, 800.0f);
    ExpectRect(t.title, 35.2f, 92.0f, 369.6f, 34.0f, "title");
    ExpectRect(t.paragraph, 35.2f, 128.0f, 369.6f, 115.0f, "paragraph");
    ExpectRect(t.nameLabel, 44.0f, 475.0f, 352.0f, 20.0f, "name label");
    ExpectRect(t.classLabel, 44.0f, 533.0f, 352.0f, 20.0f, "class label");
    ExpectRect(t.tokenLabel, 44.0f, 591.0f, 352.0f, 20.0f, "token label");

    // Each label ends one pixel above its field's top.
    const FormLayout f = ComputeFormLayout(440, 800);
    EXPECT_FLOAT_EQ(t.nameLabel.y + t.nameLabel.height + 1.0f, static_cast<float>(f.y0 + kNameFieldDy));
    EXPECT_FLOAT_EQ(t.classLabel.y + t.classLabel.height + 1.0f, static_cast<float>(f.y0 + kClassFieldDy));
    EXPECT_FLOAT_EQ(t.tokenLabel.y + t.tokenLabel.height + 1.0f, static_cast<float>(f.y0 + kTokenFieldDy));
}

TEST(FitPicture, KeepsTheWholePictureCentred)
{
    // Taller client than the picture's proportion: bands above and below.
    const RectF4 tall = FitPicture(440.0f, 800.0f, 941.0f, 1672.0f);
    EXPECT_FLOAT_EQ(tall.x, 0.0f);
    EXPECT_NEAR(tall.y, 9.097f, 0.001f);
    EXPECT_FLOAT_EQ(tall.width, 440.0f);
    EXPECT_NEAR(tall.height, 781.807f, 0.001f);

    // Wider client than the picture's proportion: bands left and right.
    const RectF4 wide = FitPicture(800.0f, 800.0f, 941.0f, 1672.0f);
    EXPECT_FLOAT_EQ(wide.y, 0.0f);
    EXPECT_FLOAT_EQ(wide.height, 800.0f);
    EXPECT_NEAR(wide.width, 450.239f, 0.001f);
    EXPECT_NEAR(wide.x, (800.0f - wide.width) * 0.5f, 0.0001f);

    // The client sizes the start screen gets under the test prefix's frame
    // (3 px borders, 19 px caption): on 1366 x 768 the 410 x 675 window's
    // client is wider in proportion than the picture, on 1920 x 1080 the
    // 453 x 840 window's is taller.
    const RectF4 small = FitPicture(404.0f, 650.0f, 941.0f, 1672.0f);
    EXPECT_FLOAT_EQ(small.y, 0.0f);
    EXPECT_NEAR(small.x, 19.09f, 0.01f);
    EXPECT_NEAR(small.width, 365.82f, 0.01f);
    const RectF4 large = FitPicture(447.0f, 815.0f, 941.0f, 1672.0f);
    EXPECT_FLOAT_EQ(large.x, 0.0f);
    EXPECT_NEAR(large.y, 10.38f, 0.01f);
    EXPECT_NEAR(large.height, 794.25f, 0.01f);

    // An undecoded picture reports no size and gets no rectangle.
    const RectF4 none = FitPicture(440.0f, 800.0f, 0.0f, 0.0f);
    EXPECT_EQ(none.width, 0.0f);
    EXPECT_EQ(none.height, 0.0f);
}

}  // namespace
