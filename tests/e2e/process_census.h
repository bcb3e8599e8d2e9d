// What a process holds, counted from outside: handles, windows, threads and
// committed memory. (Under Wine GetProcessHandleCount and GetGuiResources
// always say 0, so handles come from the system's handle table.)
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace census {

struct Census {
    std::size_t handles = 0;
    std::size_t windows = 0;  // top-level and child windows
    std::size_t threads = 0;
    std::size_t committedBytes = 0;
    std::size_t workingSetBytes = 0;
    std::string Describe() const;
};

Census Take(DWORD pid);

// Processes whose executable has this file name (e.g. L"msedge.exe").
int ProcessesNamed(const wchar_t* exeName);

}  // namespace census
