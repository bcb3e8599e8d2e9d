#include "kiosk/keyboard_hook.h"

#include "app/globals.h"
#include "kiosk/key_rules.h"

namespace {

// What the hook has seen of Alt and Ctrl since it was installed.
HeldKeys g_heldKeys;

}  // namespace

void InstallKioskHook()
{
    if (!g_hKeyHook) {
        g_heldKeys = {};
        g_hKeyHook = SetWindowsHookExW(WH_KEYBOARD_LL, LowLevelKeyboardProc, GetModuleHandleW(nullptr), 0);
    }
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
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(record);
        const auto kind = static_cast<std::uint32_t>(message);
        // Every stroke is noted, whatever the verdict on it.
        g_heldKeys = NoteHeldKeys(g_heldKeys, event.vkCode, kind);
        if (!g_examActive.load())
            return CallNextHookEx(g_hKeyHook, code, message, record);
        KeyStroke key;
        key.vk = event.vkCode;
        key.message = kind;
        key.alt = IsAltDown(event.flags, GetAsyncKeyState(VK_MENU), g_heldKeys.Alt());
        key.ctrl = IsCtrlDown(GetAsyncKeyState(VK_CONTROL), g_heldKeys.Ctrl());
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
