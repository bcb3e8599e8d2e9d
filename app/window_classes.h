// The program's two window classes, registered once at start-up.
#pragma once

#include <windows.h>

// "ORVELCBTMain" (the start screen) and "CBTControlBar" (the exam bar).
void RegisterWindowClasses(HINSTANCE instance);
