// The main of every GoogleTest program of the project.
//
// Under Wine a test program now and then printed its result and then never
// exited: the hang is in the process teardown (DLL detach, static destructors
// of the Windows libraries), after everything the test checks. So a Windows
// test program ends right after its tests, with their result, and skips the
// teardown. Natively the normal exit stays, so LeakSanitizer still runs.
#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#ifdef _WIN32
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
#endif
    return result;
}
