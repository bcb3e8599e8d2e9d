// The proctor's PIN prompt "Akses Pengawas".
#pragma once

#include <windows.h>

// Shows the prompt over `owner` (disabled meanwhile) and runs its own message
// loop. True when the PIN typed equals g_proctorPin; a wrong PIN during an
// exam is reported as a violation. False on "Batal" or Esc,
// when the prompt is destroyed by other means (its owner went away), or on the
// quit message, which is posted again for the main loop. The owner is enabled
// again on every return.
bool PromptProctorPin(HWND owner);

// True while a prompt is open: one prompt at a time.
bool IsProctorPromptOpen();
