// The handle of one system-wide low-level hook of the exam (keyboard or
// mouse), installed, renewed and removed the same way for both.
#pragma once

#include <windows.h>

// Installs the hook for all threads unless `hook` already holds one.
void InstallLowLevelHook(HHOOK& hook, int kind, HOOKPROC procedure);

// Puts a fresh hook in place of the one in `hook`: the new one first, so that
// there is never a moment without one; if none can be made the old one stays.
// Windows silently drops a hook whose procedure once ran too long, on a
// loaded PC.
void RenewLowLevelHook(HHOOK& hook, int kind, HOOKPROC procedure);

// Removes the hook if `hook` holds one, and empties it.
void RemoveLowLevelHook(HHOOK& hook);
