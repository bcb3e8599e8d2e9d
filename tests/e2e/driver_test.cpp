// The driver's start of the tests' own programs, which every end-to-end test
// leans on: a start that fails says why, and only a start Wine lost before it
// ran is made again.
#include "driver.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

// What `run` wrote on stderr.
template <typename Run>
std::string StderrOf(Run run)
{
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const std::wstring path = std::wstring(dir) + L"orvel-driver-test-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    const int file = _wopen(path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (file < 0)
        return "(stderr could not be caught)";
    std::fflush(stderr);
    const int saved = _dup(_fileno(stderr));
    _dup2(file, _fileno(stderr));
    run();
    std::fflush(stderr);
    _dup2(saved, _fileno(stderr));
    _close(saved);
    _close(file);
    std::string text = driver::ReadFileBytes(path);
    DeleteFileW(path.c_str());
    return text;
}

TEST(Driver, AFailedStartSaysItsErrorOnceAndARealProgramStartsSilently)
{
    PROCESS_INFORMATION missing{};
    bool started = true;
    const std::string said = StderrOf([&] { started = driver::StartProgram(L"\"C:\\no-such-folder\\nope.exe\" --x", missing); });
    EXPECT_FALSE(started);
    EXPECT_EQ(said, "[driver] CreateProcessW failed, error 2: \"C:\\no-such-folder\\nope.exe\" --x\n")
        << "one line with the error; a missing program is not tried again";

    PROCESS_INFORMATION real{};
    const std::string quiet = StderrOf([&] { started = driver::StartProgram(L"cmd.exe /c exit 7", real); });
    ASSERT_TRUE(started);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(WaitForSingleObject(real.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(real.hProcess, &code);
    EXPECT_EQ(code, 7u) << "the command line reached the program";
    CloseHandle(real.hProcess);
    CloseHandle(real.hThread);
}

}  // namespace
