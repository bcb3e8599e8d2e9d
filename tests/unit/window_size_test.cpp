#include "app/window_size.h"

#include <gtest/gtest.h>

namespace {

struct SizeRow {
    int screenWidth, screenHeight;
    int width, height, left, top;
};

TEST(ComputeMainWindowPlacement, GivesTheWorkedSizes)
{
    const SizeRow rows[] = {
        {1920, 1080, 453, 840, 733, 120},
        {1440, 900, 427, 792, 506, 54},
        {1366, 768, 410, 675, 478, 46},   // 0.54 x 675 would be 364: held at 410
        {1280, 920, 436, 809, 422, 55},   // exactly 920 takes the scaled branch
        {1280, 921, 453, 840, 413, 40},
        {800, 600, 410, 528, 195, 36},
        {1024, 768, 410, 675, 307, 46},
        {1600, 900, 427, 792, 586, 54},
        {2560, 1440, 453, 840, 1053, 300},
        {400, 600, 410, 528, -5, 36},     // narrower than the window: negative left
        {0, 0, 410, 0, -205, 0},
    };
    for (const auto& r : rows) {
        const WindowPlacement p = ComputeMainWindowPlacement(r.screenWidth, r.screenHeight);
        EXPECT_EQ(p.width, r.width) << r.screenWidth << "x" << r.screenHeight;
        EXPECT_EQ(p.height, r.height) << r.screenWidth << "x" << r.screenHeight;
        EXPECT_EQ(p.left, r.left) << r.screenWidth << "x" << r.screenHeight;
        EXPECT_EQ(p.top, r.top) << r.screenWidth << "x" << r.screenHeight;
    }
}

TEST(ComputeMainWindowPlacement, ScaledBranchNeverNarrowerThan410AndNeverTallerThanTheScreen)
{
    for (int h = 1; h <= 920; ++h) {
        const WindowPlacement p = ComputeMainWindowPlacement(1366, h);
        ASSERT_GE(p.width, 410) << h;
        ASSERT_LE(p.height, h) << h;
        ASSERT_GE(p.top, 0) << h;
    }
}

}  // namespace
