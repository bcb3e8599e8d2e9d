#include "kiosk/keyboard_hook.h"

#include "app/globals.h"
#include "kiosk/key_rules.h"

void InstallKioskHook()
{
    if (!g_hKeyHook)
        g_hKeyHook = SetWindowsHookExW(WH_KEYBOARD_LL, LowLevelKeyboardProc, GetModuleHandleW(nullptr), 0);
}

void RemoveKioskHook()
{
    if (g_hKeyHook) {
        UnhookWindowsHookEx(g_hKeyHook);
        g_hKeyHook = nullptr;
    }
}

LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record)
{
    if (code == HC_ACTION && g_examActive.load()) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(record);
        KeyStroke key;
        key.vk = event.vkCode;
        key.message = static_cast<std::uint32_t>(message);
        key.alt = IsAltDown(event.flags, GetAsyncKeyState(VK_MENU));
        key.ctrl = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
        switch (DecideKey(true, key)) {
        case KeyAction::ProctorRequest:
            PostMessageW(g_hMainWnd, WM_PROCTOR_EXIT, 0, 0);
            return 1;
        case KeyAction::Swallow:
            return 1;
        case KeyAction::Pass:
            break;
        }
    }
    return CallNextHookEx(g_hKeyHook, code, message, record);
}
