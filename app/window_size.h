// Where the start screen goes on the primary screen. Pure arithmetic so that
// the sizes can be checked for any screen without one.
#pragma once

struct WindowPlacement {
    int left;
    int top;
    int width;   // outer size, caption and borders included
    int height;
};

// Tall screens get a fixed 453 x 840; smaller ones 88% of the height with a
// 0.54 aspect, never narrower than 410. Centred, possibly at negative edges.
WindowPlacement ComputeMainWindowPlacement(int screenWidth, int screenHeight);
