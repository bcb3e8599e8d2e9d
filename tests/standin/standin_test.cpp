// The browser stand-in under Wine. Copied to Chrome's install path and started
// with a command line as the launcher writes one, it must record that command
// line exactly, cover the screen with a window of Chrome's class, stay alive,
// and end with the exit code it is told.
#include "driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

using namespace driver;

namespace {

constexpr wchar_t kChromeDir[] = L"C:\\Program Files\\Google\\Chrome\\Application";
constexpr UINT kMsgExit = WM_APP + 7;

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::vector<std::wstring> FilesIn(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

class Standin : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring from = driver::BuildFile(L"tests\\standin\\browser-standin.exe");
        // Each missing folder of the path, made here and removed afterwards.
        const std::wstring path = kChromeDir;
        for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
            const std::wstring part = path.substr(0, at);
            if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES) {
                ASSERT_TRUE(CreateDirectoryW(part.c_str(), nullptr)) << "cannot make " << Utf8(part);
                madeDirs.push_back(part);
            }
            if (at == std::wstring::npos)
                break;
        }
        exe = path + L"\\chrome.exe";
        ASSERT_TRUE(CopyFileW(from.c_str(), exe.c_str(), FALSE)) << "copy failed, error " << GetLastError();

        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
        dir = std::wstring(temp) + L"orvel-standin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr)) << "cannot make " << Utf8(dir);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_DIR", dir.c_str());
    }

    void TearDown() override
    {
        for (auto& app : apps) {
            if (app.pi.hProcess) {
                TerminateProcess(app.pi.hProcess, 99);
                WaitForExit(app, 5000);
            }
        }
        SetEnvironmentVariableW(L"ORVEL_STANDIN_DIR", nullptr);
        if (!dir.empty()) {
            for (const auto& name : FilesIn(dir))
                DeleteFileW((dir + L"\\" + name).c_str());
            RemoveDirectoryW(dir.c_str());
        }
        if (!exe.empty())
            DeleteFileW(exe.c_str());
        for (auto it = madeDirs.rbegin(); it != madeDirs.rend(); ++it)
            RemoveDirectoryW(it->c_str());
    }

    // Starts the copied stand-in with this command line (as the launcher would:
    // no application name, the exe quoted first) and waits for its window.
    App& Start(const std::wstring& commandLine)
    {
        App& app = apps.emplace_back();
        if (!StartProgram(commandLine, app.pi)) {
            ADD_FAILURE() << "the stand-in did not start";
            return app;
        }
        app.main = WaitForTopWindow(app.pi.dwProcessId, L"Chrome_WidgetWin_1", nullptr, 15000);
        EXPECT_NE(app.main, nullptr) << "no visible Chrome_WidgetWin_1 window of the process";
        return app;
    }

    std::wstring CmdlineFile(const App& app) const
    {
        return dir + L"\\launch-" + std::to_wstring(app.pi.dwProcessId) + L".cmdline";
    }

    // The .cmdline file's bytes once it has appeared ("" if it never does).
    std::string RecordedBytes(const App& app) const
    {
        const std::wstring file = CmdlineFile(app);
        if (!WaitFor([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10000))
            return {};
        return driver::ReadFileBytes(file);
    }

    std::wstring Quoted() const { return L"\"" + exe + L"\""; }

    std::wstring exe, dir;
    std::vector<std::wstring> madeDirs;
    std::deque<App> apps;  // a deque: references to earlier starts stay valid
};

std::string AsBytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TEST_F(Standin, RecordsEachCommandLineExactlyAndLogsEveryLaunch)
{
    // A quote-free address with a blank, a quoted argument with blanks and a
    // letter outside ASCII, a doubled blank: all must arrive untouched.
    const std::wstring odd = Quoted() + L" --kiosk https://localhost/a b?c=1  --user-data-dir=\"C:\\users\\Guru Kelas\\profil \u00e9\" --no-first-run";
    App& first = Start(odd);
    ASSERT_NE(first.main, nullptr);
    const std::string firstBytes = RecordedBytes(first);
    EXPECT_EQ(firstBytes, AsBytes(odd)) << "the .cmdline file must hold GetCommandLineW's UTF-16LE units, nothing more";
    const DWORD firstPid = first.pi.dwProcessId;
    EXPECT_EQ(CloseAndWait(first), 0) << "WM_CLOSE must end the stand-in with 0";

    const std::wstring usual = Quoted() + L" --kiosk \"https://localhost/demo/form?x=1\" --edge-kiosk-type=fullscreen "
                                          L"--no-first-run --disable-pinch --user-data-dir=\"C:\\users\\root\\Temp\\cbt_orvel_profile\"";
    App& second = Start(usual);
    ASSERT_NE(second.main, nullptr);
    EXPECT_EQ(RecordedBytes(second), AsBytes(usual));
    const DWORD secondPid = second.pi.dwProcessId;
    EXPECT_EQ(CloseAndWait(second), 0) << "WM_CLOSE must end the stand-in with 0";

    EXPECT_EQ(driver::ReadFileBytes(dir + L"\\launches.log"),
              std::to_string(firstPid) + "\t" + Utf8(odd) + "\n" + std::to_string(secondPid) + "\t" + Utf8(usual) + "\n")
        << "one UTF-8 line per launch, in order";
    // Both records, the log, and no half-written .tmp left behind.
    std::vector<std::wstring> files = FilesIn(dir);
    std::sort(files.begin(), files.end());
    std::vector<std::wstring> expected = {L"launch-" + std::to_wstring(firstPid) + L".cmdline",
                                          L"launch-" + std::to_wstring(secondPid) + L".cmdline", L"launches.log"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
}

TEST_F(Standin, CoversTheScreenWithAPopupTitledWithTheFormAddress)
{
    App& app = Start(Quoted() + L" --kiosk \"https://localhost/demo/form?x=1\" --edge-kiosk-type=fullscreen --no-first-run");
    ASSERT_NE(app.main, nullptr);
    RECT r{};
    GetWindowRect(app.main, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(r.bottom, GetSystemMetrics(SM_CYSCREEN));
    const LONG style = GetWindowLongW(app.main, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION) << "a kiosk window has no title bar";
    EXPECT_EQ(GetAncestor(app.main, GA_ROOT), app.main) << "must be a top-level window";
    EXPECT_EQ(Text(app.main), L"Ujian - https://localhost/demo/form?x=1");
    EXPECT_EQ(CloseAndWait(app), 0);
}

TEST_F(Standin, StaysAliveUntilToldThenEndsWithThePostedCode)
{
    // 3 as the brief's example, and a crash-like code that needs all 32 bits.
    for (const DWORD code : {3ul, 0xC0000005ul}) {
        App& app = Start(Quoted() + L" --kiosk \"https://localhost/demo/form?x=1\"");
        ASSERT_NE(app.main, nullptr);
        EXPECT_EQ(WaitForSingleObject(app.pi.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the stand-in must keep running until it is told to end";
        ASSERT_TRUE(PostMessageW(app.main, kMsgExit, code, 0));
        EXPECT_EQ(static_cast<DWORD>(WaitForExit(app, 10000)), code) << "posted code " << code;
    }
}

}  // namespace

namespace {

bool UnixFileExists(const std::wstring& linuxPath)
{
    return GetFileAttributesW((L"Z:" + linuxPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The "orvel-chromium-*.status.pid" in `folder` that was not there before.
std::wstring NewChromiumPidFile(const std::wstring& folder, const std::vector<std::wstring>& before)
{
    for (const auto& name : FilesIn(folder))
        if (name.rfind(L"orvel-chromium-", 0) == 0 && name.ends_with(L".status.pid") &&
            std::find(before.begin(), before.end(), name) == before.end())
            return folder + L"\\" + name;
    return {};
}

// Runs real Linux Chromium for the demo; only where Chromium is installed.
TEST(StandinChromium, LivesExactlyAsLongAsChromiumAndEndsItWhenEnded)
{
    if (!UnixFileExists(L"/usr/bin/chromium"))
        GTEST_SKIP() << "Chromium is not installed (apt-get install chromium)";
    const std::wstring script = std::wstring(ORVEL_SOURCE_DIR_W) + L"\\tools\\chromium-standin.sh";
    ASSERT_NE(GetFileAttributesW(script.c_str()), INVALID_FILE_ATTRIBUTES) << "no script at " << Utf8(script);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_CHROMIUM", script.c_str());
    // A folder of this run's own for Chromium's profile and the status files.
    const std::wstring own = L"/tmp/orvel-chromium-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount64());
    const std::wstring ownWin = L"Z:" + own;
    CreateDirectoryW(ownWin.c_str(), nullptr);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_CHROMIUM_PROFILE", (own + L"/profile").c_str());
    SetEnvironmentVariableW(L"ORVEL_STANDIN_CHROMIUM_STATUS", own.c_str());

    for (const bool endedFromOutside : {false, true}) {
        SCOPED_TRACE(endedFromOutside ? "the stand-in is ended" : "Chromium ends by itself");
        const auto before = FilesIn(ownWin);
        PROCESS_INFORMATION pi{};
        const std::wstring standin = BuildFile(L"tests\\standin\\browser-standin.exe");
        ASSERT_TRUE(StartProgram(L"\"" + standin + L"\" --kiosk \"about:blank\"", pi));
        std::wstring pidFile;
        ASSERT_TRUE(WaitFor([&] { return !(pidFile = NewChromiumPidFile(ownWin, before)).empty(); }, 20000));
        std::string pidText;
        WaitFor([&] { return !(pidText = ReadFileBytes(pidFile)).empty(); }, 5000);
        const std::wstring proc = L"/proc/" + std::to_wstring(std::stoul(pidText));
        EXPECT_TRUE(UnixFileExists(proc)) << "Chromium runs";
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 1500), static_cast<DWORD>(WAIT_TIMEOUT)) << "the stand-in waits for it";

        if (endedFromOutside) {
            TerminateProcess(pi.hProcess, 0);
            EXPECT_TRUE(WaitFor([&] { return !UnixFileExists(proc); }, 15000)) << "Chromium is ended with it";
        } else {
            PROCESS_INFORMATION kpi{};
            ASSERT_TRUE(StartProgram(L"Z:\\bin\\kill -TERM " + std::to_wstring(std::stoul(pidText)), kpi));
            EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0)) << "ends with Chromium";
            DWORD code = 259;
            GetExitCodeProcess(pi.hProcess, &code);
            const std::string status = ReadFileBytes(pidFile.substr(0, pidFile.size() - 4));
            EXPECT_EQ(std::to_string(code), status.substr(0, status.find('\n'))) << "with Chromium's exit status";
        }
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        const std::wstring status = pidFile.substr(0, pidFile.size() - 4);
        WaitFor([&] { return GetFileAttributesW(status.c_str()) != INVALID_FILE_ATTRIBUTES; }, 5000);
        for (const wchar_t* suffix : {L"", L".pid", L".alive"})
            DeleteFileW((status + suffix).c_str());
    }
    SetEnvironmentVariableW(L"ORVEL_STANDIN_CHROMIUM", nullptr);
}

}  // namespace
