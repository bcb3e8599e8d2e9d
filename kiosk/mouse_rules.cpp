#include "kiosk/mouse_rules.h"

MouseVerdict DecideMouse(bool examActive, const MouseEvent& event, bool swallowingLeft)
{
    using namespace mouse;
    if (!examActive)
        return {false, false};
    switch (event.message) {
    case kRightDown:
    case kRightUp:
    case kMiddleDown:
    case kMiddleUp:
    case kSideDown:
    case kSideUp:
        return {true, swallowingLeft};
    case kLeftDown:
        if (event.ctrl || event.shift)
            return {true, true};
        return {false, false};
    case kLeftUp:
        return {swallowingLeft, false};
    default:  // moves and both wheels
        return {false, swallowingLeft};
    }
}
