#include "kiosk/keyboard_hook.h"

#include "app/globals.h"

void RemoveKioskHook()
{
    if (g_hKeyHook) {
        UnhookWindowsHookEx(g_hKeyHook);
        g_hKeyHook = nullptr;
    }
}
