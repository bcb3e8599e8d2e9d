#include "kiosk/command_line.h"

#include <gtest/gtest.h>

namespace {

constexpr char kEdge[] = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
constexpr char kProfile[] = "C:\\users\\siswa\\Temp\\cbt_orvel_profile";

TEST(BuildKioskCommandLine, QuotesThePathsAndTheAddress)
{
    EXPECT_EQ(BuildKioskCommandLine(kEdge, "https://forms.example/ujian?id=5", kProfile),
              "\"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe\" --kiosk "
              "\"https://forms.example/ujian?id=5\" --edge-kiosk-type=fullscreen --no-first-run "
              "--disable-pinch --user-data-dir=\"C:\\users\\siswa\\Temp\\cbt_orvel_profile\"");
    // Blanks stay: the quotes keep the address one argument.
    EXPECT_EQ(BuildKioskCommandLine("b.exe", "https://f/a b c", "p"),
              "\"b.exe\" --kiosk \"https://f/a b c\" --edge-kiosk-type=fullscreen --no-first-run "
              "--disable-pinch --user-data-dir=\"p\"");
}

TEST(QuoteSafeFormUrl, NothingInTheAddressCanEndItsQuotes)
{
    struct Row {
        const char* url;
        const char* expected;
    } const rows[] = {
        {"https://f/x", "https://f/x"},
        {"https://f/x\" --disable-web-security \"", "https://f/x%22 --disable-web-security %22"},
        {"\"\"", "%22%22"},
        {"https://f/x\\", "https://f/x\\\\"},          // trailing backslash doubled
        {"https://f/a\\b", "https://f/a\\b"},           // inner one kept
        {"https://f/x\\\\", "https://f/x\\\\\\\\"},
        {"https://f/%22", "https://f/%22"},
        {"https://f/caf\xC3\xA9 & <x>", "https://f/caf\xC3\xA9 & <x>"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(QuoteSafeFormUrl(r.url), r.expected) << r.url;
}

TEST(IsLaunchableFormUrl, RefusesWhatTheBrowserWouldTakeForASwitch)
{
    EXPECT_TRUE(IsLaunchableFormUrl("https://forms.example/x"));
    EXPECT_TRUE(IsLaunchableFormUrl("x--y"));
    EXPECT_TRUE(IsLaunchableFormUrl(" -x"));
    EXPECT_FALSE(IsLaunchableFormUrl("--disable-web-security"));
    EXPECT_FALSE(IsLaunchableFormUrl("-x"));
    EXPECT_FALSE(IsLaunchableFormUrl(""));
}

}  // namespace
