// Finding the installed browser and starting the exam in it.
#pragma once

#include <string>

// The first of the fixed Edge and Chrome install paths that exists (a folder
// counts too), or empty.
std::wstring FindBrowserExe();

// Opens g_formUrl in the browser in kiosk mode, with a new profile folder,
// and starts the exam session. Shows its own message box when no browser is
// found, the temporary folder cannot take the profile, or the browser cannot
// start.
void StartExamInKiosk();
