// The stand-in browser at the fixed install paths of the test prefix, and
// what it recorded of each launch.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace browser {

// The four install paths, in the order the program looks at them.
enum Candidate { kEdgeX86, kEdge, kChrome, kChromeX86 };
const wchar_t* PathOf(Candidate c);

// Nothing at any of the four paths. A stand-in still running from one of
// them after a wait outlived the program that started it: it is ended, and
// named in what is returned (empty when there was none).
std::string RemoveAll();
// The stand-in copied to that path.
bool PlaceStandIn(Candidate c);
// An empty folder where the exe would be.
bool PlaceFolder(Candidate c);

// A fresh folder for the stand-in's records, handed to it (through the
// program) in ORVEL_STANDIN_DIR.
void StartRecording();

struct Launch {
    DWORD pid = 0;
    std::wstring commandLine;
};
std::vector<Launch> Launches();
std::vector<Launch> WaitForLaunches(std::size_t n, DWORD timeoutMs);

// The stand-in's window, once it shows.
HWND WaitForWindow(DWORD pid, DWORD timeoutMs);
bool IsRunning(DWORD pid);
// Exit code of the process once it has ended; -1 on time-out.
long WaitForExit(DWORD pid, DWORD timeoutMs);

// The profile folder a command line passes (--user-data-dir="..."), empty
// without one.
std::wstring ProfileFolderOf(const std::wstring& commandLine);
// A folder of the exam profile's pattern right in the temporary folder:
// "cbt_orvel_profile_" and 16 lower-case hex digits.
bool IsExamProfileFolder(const std::wstring& folder);

}  // namespace browser
