#include "kiosk/mouse_hook.h"

#include "app/globals.h"
#include "kiosk/hook_handle.h"
#include "kiosk/keyboard_hook.h"
#include "kiosk/mouse_rules.h"

namespace {

// A left press was swallowed: its release must not reach the window alone.
bool g_swallowingLeft = false;

}  // namespace

void InstallMouseHook()
{
    if (!g_hMouseHook)
        g_swallowingLeft = false;
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

LRESULT CALLBACK LowLevelMouseProc(int code, WPARAM message, LPARAM record)
{
    if (code != HC_ACTION || message == WM_MOUSEMOVE || !g_examActive.load())
        return CallNextHookEx(g_hMouseHook, code, message, record);
    const HeldModifiers held = ModifiersHeld();
    const MouseVerdict verdict =
        DecideMouse(true, {static_cast<std::uint32_t>(message), held.ctrl, held.shift}, g_swallowingLeft);
    g_swallowingLeft = verdict.swallowingLeft;
    if (verdict.swallow)
        return 1;
    return CallNextHookEx(g_hMouseHook, code, message, record);
}
