#include "kiosk/lockdown/mouse_rules.h"

MouseVerdict DecideMouse(bool examActive, const MouseEvent& event, MouseState last)
{
    using namespace mouse;
    if (!examActive)
        return {false, {}};
    switch (event.message) {
    case kRightDown:
    case kRightUp:
    case kMiddleDown:
    case kMiddleUp:
    case kSideDown:
    case kSideUp:
        return {true, last};
    case kLeftDown:
        if (event.ctrl || event.shift)
            return {true, {true, false}};
        return {false, {false, true}};
    case kLeftUp:
        return {last.swallowingLeft, {}};
    default:  // moves and both wheels
        return {false, last};
    }
}
