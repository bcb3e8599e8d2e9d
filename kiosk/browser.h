// Finding the installed browser and starting the exam in it.
#pragma once

#include <string>

// The first of the fixed Edge and Chrome install paths that exists (a folder
// counts too), or empty.
std::wstring FindBrowserExe();

// Opens g_formUrl in the browser in kiosk mode and starts the exam session.
// Shows its own message box when no browser is found or it cannot start.
void StartExamInKiosk();
