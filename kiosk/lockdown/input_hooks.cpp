#include "kiosk/lockdown/input_hooks.h"

#include "app/globals.h"
#include "kiosk/exam.h"
#include "kiosk/lockdown/key_rules.h"
#include "kiosk/lockdown/mouse_rules.h"
#include "kiosk/watch/clipboard.h"
#include "kiosk/watch/clipboard_rules.h"

// The pure rules carry their own copies of the Windows constants, so that
// they build without <windows.h>: here they are held to the headers.
static_assert(vk::kKeyDown == WM_KEYDOWN && vk::kKeyUp == WM_KEYUP && vk::kSysKeyDown == WM_SYSKEYDOWN &&
              vk::kSysKeyUp == WM_SYSKEYUP);
static_assert(vk::kBack == VK_BACK && vk::kTab == VK_TAB && vk::kReturn == VK_RETURN && vk::kShift == VK_SHIFT &&
              vk::kControl == VK_CONTROL && vk::kMenu == VK_MENU && vk::kEscape == VK_ESCAPE &&
              vk::kSpace == VK_SPACE && vk::kPrior == VK_PRIOR && vk::kNext == VK_NEXT && vk::kEnd == VK_END &&
              vk::kHome == VK_HOME && vk::kLeft == VK_LEFT && vk::kUp == VK_UP && vk::kRight == VK_RIGHT &&
              vk::kDown == VK_DOWN && vk::kSnapshot == VK_SNAPSHOT && vk::kInsert == VK_INSERT &&
              vk::kDelete == VK_DELETE);
static_assert(vk::k0 == '0' && vk::k9 == '9' && vk::kA == 'A' && vk::kC == 'C' && vk::kF == 'F' && vk::kP == 'P' &&
              vk::kV == 'V' && vk::kX == 'X' && vk::kY == 'Y' && vk::kZ == 'Z');
static_assert(vk::kLeftWin == VK_LWIN && vk::kRightWin == VK_RWIN && vk::kApps == VK_APPS &&
              vk::kNumpad0 == VK_NUMPAD0 && vk::kNumpad9 == VK_NUMPAD9 && vk::kAdd == VK_ADD &&
              vk::kSubtract == VK_SUBTRACT && vk::kF1 == VK_F1 && vk::kF4 == VK_F4 && vk::kF6 == VK_F6 &&
              vk::kF7 == VK_F7 && vk::kF9 == VK_F9 && vk::kF10 == VK_F10 && vk::kF11 == VK_F11 &&
              vk::kF12 == VK_F12);
static_assert(vk::kLeftShift == VK_LSHIFT && vk::kRightShift == VK_RSHIFT && vk::kLeftControl == VK_LCONTROL &&
              vk::kRightControl == VK_RCONTROL && vk::kLeftMenu == VK_LMENU && vk::kRightMenu == VK_RMENU);
static_assert(vk::kBrowserSearch == VK_BROWSER_SEARCH && vk::kBrowserFavorites == VK_BROWSER_FAVORITES &&
              vk::kBrowserHome == VK_BROWSER_HOME && vk::kLaunchMail == VK_LAUNCH_MAIL &&
              vk::kLaunchMediaSelect == VK_LAUNCH_MEDIA_SELECT && vk::kLaunchApp1 == VK_LAUNCH_APP1 &&
              vk::kLaunchApp2 == VK_LAUNCH_APP2 && vk::kOemPlus == VK_OEM_PLUS && vk::kOemMinus == VK_OEM_MINUS);
static_assert(mouse::kMove == WM_MOUSEMOVE && mouse::kLeftDown == WM_LBUTTONDOWN && mouse::kLeftUp == WM_LBUTTONUP &&
              mouse::kRightDown == WM_RBUTTONDOWN && mouse::kRightUp == WM_RBUTTONUP &&
              mouse::kMiddleDown == WM_MBUTTONDOWN && mouse::kMiddleUp == WM_MBUTTONUP &&
              mouse::kWheel == WM_MOUSEWHEEL && mouse::kSideDown == WM_XBUTTONDOWN && mouse::kSideUp == WM_XBUTTONUP &&
              mouse::kHorizontalWheel == WM_MOUSEHWHEEL);

HHOOK g_hKeyHook = nullptr;
HHOOK g_hMouseHook = nullptr;

namespace {

// What the hooks have seen since the exam's first install; fresh hooks put
// in place of the old ones keep it.
struct InputState {
    HeldKeys heldKeys;   // Alt, Ctrl and Shift, as the keyboard hook saw them
    MouseState mouse;    // what the left button's last press left to come
};
InputState g_input;

void InstallHook(HHOOK& hook, int kind, HOOKPROC procedure)
{
    if (!hook)
        hook = SetWindowsHookExW(kind, procedure, GetModuleHandleW(nullptr), 0);
}

// The new one first, so that there is never a moment without one; if none
// can be made the old one stays.
void RenewHook(HHOOK& hook, int kind, HOOKPROC procedure)
{
    HHOOK fresh = SetWindowsHookExW(kind, procedure, GetModuleHandleW(nullptr), 0);
    if (!fresh)
        return;
    HHOOK old = hook;
    hook = fresh;
    // A hook the system has already dropped fails here, harmlessly.
    if (old)
        UnhookWindowsHookEx(old);
}

void RemoveHook(HHOOK& hook)
{
    if (hook) {
        UnhookWindowsHookEx(hook);
        hook = nullptr;
    }
}

// Ctrl and Shift now: the system's key state, or the keyboard hook saw the
// key go down (the state may lag behind, under Wine above all).
bool CtrlHeld()
{
    return IsCtrlDown(GetAsyncKeyState(VK_CONTROL), g_input.heldKeys.Ctrl());
}

bool ShiftHeld()
{
    return IsShiftDown(GetAsyncKeyState(VK_SHIFT), g_input.heldKeys.Shift());
}

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

void InstallExamHooks()
{
    if (!g_hKeyHook)
        g_input.heldKeys = {};
    if (!g_hMouseHook)
        g_input.mouse = {};
    InstallHook(g_hKeyHook, WH_KEYBOARD_LL, LowLevelKeyboardProc);
    InstallHook(g_hMouseHook, WH_MOUSE_LL, LowLevelMouseProc);
}

void RefreshExamHooks()
{
    SidesDown system;
    system.leftAlt = IsKeyStateDown(GetAsyncKeyState(VK_LMENU));
    system.rightAlt = IsKeyStateDown(GetAsyncKeyState(VK_RMENU));
    system.leftCtrl = IsKeyStateDown(GetAsyncKeyState(VK_LCONTROL));
    system.rightCtrl = IsKeyStateDown(GetAsyncKeyState(VK_RCONTROL));
    system.leftShift = IsKeyStateDown(GetAsyncKeyState(VK_LSHIFT));
    system.rightShift = IsKeyStateDown(GetAsyncKeyState(VK_RSHIFT));
    g_input.heldKeys = ReconcileHeldKeys(g_input.heldKeys, system, GetTickCount());
    RenewHook(g_hKeyHook, WH_KEYBOARD_LL, LowLevelKeyboardProc);
    RenewHook(g_hMouseHook, WH_MOUSE_LL, LowLevelMouseProc);
}

void RemoveExamHooks()
{
    RemoveHook(g_hKeyHook);
    RemoveHook(g_hMouseHook);
}

LRESULT CALLBACK LowLevelKeyboardProc(int code, WPARAM message, LPARAM record)
{
    if (code == HC_ACTION) {
        const auto& event = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(record);
        const auto kind = static_cast<std::uint32_t>(message);
        // Every stroke is noted, whatever the verdict on it.
        g_input.heldKeys = NoteHeldKeys(g_input.heldKeys, event.vkCode, kind, GetTickCount());
        if (!g_examActive.load())
            return CallNextHookEx(g_hKeyHook, code, message, record);
        KeyStroke key;
        key.vk = event.vkCode;
        key.message = kind;
        key.alt = IsAltDown(event.flags, GetAsyncKeyState(VK_MENU), g_input.heldKeys.Alt());
        key.ctrl = CtrlHeld();
        key.shift = ShiftHeld();
        if (key.alt && key.ctrl)
            key.altGrTypes = AltGrTypes(event, key.shift);
        key.leftPressHeld = g_input.mouse.leftPressHeld;
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

LRESULT CALLBACK LowLevelMouseProc(int code, WPARAM message, LPARAM record)
{
    if (code != HC_ACTION || message == WM_MOUSEMOVE || !g_examActive.load())
        return CallNextHookEx(g_hMouseHook, code, message, record);
    const MouseVerdict verdict =
        DecideMouse(true, {static_cast<std::uint32_t>(message), CtrlHeld(), ShiftHeld()}, g_input.mouse);
    g_input.mouse = verdict.next;
    if (verdict.swallow)
        return 1;
    return CallNextHookEx(g_hMouseHook, code, message, record);
}
