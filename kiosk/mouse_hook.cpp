#include "kiosk/mouse_hook.h"

#include "app/globals.h"
#include "kiosk/hook_handle.h"
#include "kiosk/keyboard_hook.h"
#include "kiosk/mouse_rules.h"

namespace {

// What the left button's last press left to come.
MouseState g_mouseState;

}  // namespace

void InstallMouseHook()
{
    if (!g_hMouseHook)
        g_mouseState = {};
    InstallLowLevelHook(g_hMouseHook, WH_MOUSE_LL, LowLevelMouseProc);
}

void RemoveMouseHook()
{
    RemoveLowLevelHook(g_hMouseHook);
}

void RefreshMouseHook()
{
    RenewLowLevelHook(g_hMouseHook, WH_MOUSE_LL, LowLevelMouseProc);
}

bool LeftPressHeld()
{
    return g_mouseState.leftPressHeld;
}

LRESULT CALLBACK LowLevelMouseProc(int code, WPARAM message, LPARAM record)
{
    if (code != HC_ACTION || message == WM_MOUSEMOVE || !g_examActive.load())
        return CallNextHookEx(g_hMouseHook, code, message, record);
    const HeldModifiers held = ModifiersHeld();
    const MouseVerdict verdict =
        DecideMouse(true, {static_cast<std::uint32_t>(message), held.ctrl, held.shift}, g_mouseState);
    g_mouseState = verdict.next;
    if (verdict.swallow)
        return 1;
    return CallNextHookEx(g_hMouseHook, code, message, record);
}
