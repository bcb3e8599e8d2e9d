#include "kiosk/mouse_hook.h"

#include "app/globals.h"
#include "kiosk/keyboard_hook.h"
#include "kiosk/mouse_rules.h"

namespace {

// A left press was swallowed: its release must not reach the window alone.
bool g_swallowingLeft = false;

HHOOK NewHook()
{
    return SetWindowsHookExW(WH_MOUSE_LL, LowLevelMouseProc, GetModuleHandleW(nullptr), 0);
}

}  // namespace

void InstallMouseHook()
{
    if (!g_hMouseHook) {
        g_swallowingLeft = false;
        g_hMouseHook = NewHook();
    }
}

void RemoveMouseHook()
{
    if (g_hMouseHook) {
        UnhookWindowsHookEx(g_hMouseHook);
        g_hMouseHook = nullptr;
    }
}

void RefreshMouseHook()
{
    HHOOK fresh = NewHook();
    if (!fresh)
        return;  // the current one stays
    HHOOK old = g_hMouseHook;
    g_hMouseHook = fresh;
    if (old)
        UnhookWindowsHookEx(old);  // one the system dropped fails harmlessly
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
