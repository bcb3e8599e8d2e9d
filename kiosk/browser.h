// The exam browser's process: finding the installed browser, starting it in
// a job of its own, and ending it with everything it started.
#pragma once

#include <windows.h>

#include <string>

// The first of the fixed Edge and Chrome install paths that exists (a folder
// counts too), or empty.
std::wstring FindBrowserExe();

// Starts the command line, suspended until it is in a job that ends it (and
// all it starts) once the job's last handle closes, then lets it run. False
// when it could not start; process is then empty and job untouched. Without
// a job (the system would not make one) it runs all the same, job null.
bool StartBrowserInJob(std::wstring commandLine, PROCESS_INFORMATION& process, HANDLE& job);

// Ends the browser and its job, waits (a few seconds at most) until their
// processes are gone, closes their handles and empties both. Does nothing
// when neither is recorded.
void TerminateBrowser(PROCESS_INFORMATION& process, HANDLE& job);
