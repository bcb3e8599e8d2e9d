#include "kiosk/hook_handle.h"

void InstallLowLevelHook(HHOOK& hook, int kind, HOOKPROC procedure)
{
    if (!hook)
        hook = SetWindowsHookExW(kind, procedure, GetModuleHandleW(nullptr), 0);
}

void RenewLowLevelHook(HHOOK& hook, int kind, HOOKPROC procedure)
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

void RemoveLowLevelHook(HHOOK& hook)
{
    if (hook) {
        UnhookWindowsHookEx(hook);
        hook = nullptr;
    }
}
