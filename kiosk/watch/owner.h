// What the running system says about the process behind a window, for the
// rules of owner_rules.h.
#pragma once

#include "kiosk/watch/owner_rules.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// The facts that cost nothing: the window's process, whether it is this
// program or the launched browser, whether the exam has a job. A null window
// gives a process of 0.
OwnerFacts OwnerOfWindow(HWND window);

// Fills in the rest, opening the process once: with a job, whether the
// process is in it; its executable. What cannot be read stays unknown.
void LookUpOwner(OwnerFacts& owner);

// The system folder (C:\Windows\System32 as a rule), UTF-8.
std::string SystemFolder();

// How many processes the job holds now; nullopt without a job or when the
// system will not say.
std::optional<std::uint32_t> ProcessesInJob(HANDLE job);
