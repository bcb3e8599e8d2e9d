// The low-level keyboard hook that keeps the student inside the exam.
#pragma once

// Removes the hook if one is installed.
void RemoveKioskHook();
