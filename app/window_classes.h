// The program's window classes, registered once at start-up.
#pragma once

#include <windows.h>

// "ORVELCBTMain" (the start screen), "CBTControlBar" (the exam bar),
// "ORVELProctorMessage" (the proctor's message) and "ORVELScreenLock" (the
// cover of the locked screen).
void RegisterWindowClasses(HINSTANCE instance);
