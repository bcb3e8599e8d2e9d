// The kiosk command line as the browser itself splits it: Chromium-based
// browsers use CommandLineToArgvW, so no form address may change the count
// or the meaning of the arguments.
#include "kiosk/command_line.h"
#include "net/text.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Split(const std::wstring& commandLine)
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> out(args, args + (args ? count : 0));
    LocalFree(args);
    return out;
}

TEST(KioskCommandLine, EveryFormAddressStaysOneArgumentForTheBrowsersParser)
{
    const std::string browser = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
    const std::string profile = "C:\\users\\siswa\\Temp\\cbt_orvel_profile";
    const struct {
        std::string url;
        std::string seenByBrowser;
    } rows[] = {
        {"https://f/x", "https://f/x"},
        {"https://f/a b  c", "https://f/a b  c"},
        {"https://f/x\" --disable-web-security \"", "https://f/x%22 --disable-web-security %22"},
        {"https://f/x\\", "https://f/x\\"},
        {"https://f/x\\\\\\", "https://f/x\\\\\\"},
        {"https://f/a\\\"b", "https://f/a\\%22b"},
        {"https://f/\\\" --user-data-dir=C:\\evil", "https://f/\\%22 --user-data-dir=C:\\evil"},
        {"https://f/caf\xC3\xA9?q=\xE2\x80\x93", "https://f/caf\xC3\xA9?q=\xE2\x80\x93"},
        {"\t\"", "\t%22"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        const std::vector<std::wstring> args = Split(ToWide(BuildKioskCommandLine(browser, row.url, profile)));
        ASSERT_EQ(args.size(), 7u);
        EXPECT_EQ(args[0], ToWide(browser));
        EXPECT_EQ(args[1], L"--kiosk");
        EXPECT_EQ(args[2], ToWide(row.seenByBrowser));
        EXPECT_EQ(args[3], L"--edge-kiosk-type=fullscreen");
        EXPECT_EQ(args[4], L"--no-first-run");
        EXPECT_EQ(args[5], L"--disable-pinch");
        EXPECT_EQ(args[6], L"--user-data-dir=" + ToWide(profile));
    }
}

}  // namespace
