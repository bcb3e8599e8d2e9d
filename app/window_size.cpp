#include "app/window_size.h"

WindowPlacement ComputeMainWindowPlacement(int screenWidth, int screenHeight)
{
    WindowPlacement p{};
    if (screenHeight > 920) {
        p.width = 453;
        p.height = 840;
    } else {
        // Single precision on purpose: the worked sizes depend on it.
        p.height = static_cast<int>(static_cast<float>(screenHeight) * 0.88f);
        p.width = static_cast<int>(static_cast<float>(p.height) * 0.54f);
        if (p.width < 410)
            p.width = 410;
    }
    p.left = (screenWidth - p.width) / 2;
    p.top = (screenHeight - p.height) / 2;
    return p;
}
