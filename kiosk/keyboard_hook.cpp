#include "kiosk/keyboard_hook.h"

#include "app/globals.h"
#include "kiosk/clipboard_rules.h"
#include "kiosk/clipboard_watch.h"
#include "kiosk/hook_handle.h"
#include "kiosk/key_rules.h"
#include "kiosk/mouse_hook.h"

namespace {

// What the hook has seen of Alt, Ctrl and Shift since the exam's first
// install; a fresh hook put in place of the old one keeps it.
HeldKeys g_heldKeys;

// Whether AltGr (Ctrl and Alt) with this key types a character on the
// keyboard layout of the window in front: there Ctrl+Alt is how @, { or the
// euro sign are typed, and they must stay. Flag 4 leaves the system's
// keyboard state (a dead key waiting) as it was.
bool AltGrTypes(const KBDLLHOOKSTRUCT& event, bool shift)
{
    BYTE state[256] = {};
    state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
    state[VK_MENU] = state[VK_RMENU] = 0x80;
    if (shift)
        state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
    const HKL layout = GetKeyboardLayout(GetWindowThreadProcessId(GetForegroundWindow(), nullptr));
    wchar_t typed[8] = {};
    constexpr UINT kKeepKeyboardState = 4;
    // A dead key (below 0) types its character with the next key.
    return ToUnicodeEx(event.vkCode, event.scanCode, state, typed, 8, kKeepKeyboardState, layout) != 0;
}

}  // namespace

void InstallKioskHook()
{
    if (!g_hKeyHook)
        g_heldKeys = {};
    InstallLowLevelHook(g_hKeyHook, WH_KEYBOARD_LL, LowLevelKeyboardProc);
}

void RemoveKioskHook()
{
    RemoveLowLevelHook(g_hKeyHook);
}

HeldModifiers ModifiersHeld()
{
    return {IsCtrlDown(GetAsyncKeyState(VK_CONTROL), g_heldKeys.Ctrl()),
            IsShiftDown(GetAsyncKeyState(VK_SHIFT), g_heldKeys.Shift())};
}

void RefreshKioskHook()
{
    SidesDown system;
    system.leftAlt = IsKeyStateDown(GetAsyncKeyState(VK_LMENU));
    system.rightAlt = IsKeyStateDown(GetAsyncKeyState(VK_RMENU));
    system.leftCtrl = IsKeyStateDown(GetAsyncKeyState(VK_LCONTROL));
    system.rightCtrl = IsKeyStateDown(GetAsyncKeyState(VK_RCONTROL));
    system.leftShift = IsKeyStateDown(GetAsyncKeyState(VK_LSHIFT));
    system.rightShift = IsKeyStateDown(GetAsyncKeyState(VK_RSHIFT));
    g_heldKeys = ReconcileHeldKeys(g_heldKeys, system, GetTickCount());
    RenewLowLevelHook(g_hKeyHook, WH_KEYBOARD_LL, LowLevelKeyboardProc);
}

LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record)
{
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(record);
        const auto kind = static_cast<std::uint32_t>(message);
        // Every stroke is noted, whatever the verdict on it.
        g_heldKeys = NoteHeldKeys(g_heldKeys, event.vkCode, kind, GetTickCount());
        if (!g_examActive.load())
            return CallNextHookEx(g_hKeyHook, code, message, record);
        KeyStroke key;
        key.vk = event.vkCode;
        key.message = kind;
        key.alt = IsAltDown(event.flags, GetAsyncKeyState(VK_MENU), g_heldKeys.Alt());
        key.ctrl = IsCtrlDown(GetAsyncKeyState(VK_CONTROL), g_heldKeys.Ctrl());
        key.shift = IsShiftDown(GetAsyncKeyState(VK_SHIFT), g_heldKeys.Shift());
        if (key.alt && key.ctrl)
            key.altGrTypes = AltGrTypes(event, key.shift);
        key.leftPressHeld = LeftPressHeld();
        switch (DecideKey(true, key)) {
        case KeyAction::ProctorRequest:
            PostMessageW(g_hMainWnd, WM_PROCTOR_EXIT, 0, 0);
            return 1;
        case KeyAction::Swallow:
            return 1;
        case KeyAction::Pass:
            if (IsCopyKey(key.vk, kind, key.ctrl, key.shift))
                NoteCopyKey();
            break;
        }
    }
    return CallNextHookEx(g_hKeyHook, code, message, record);
}
