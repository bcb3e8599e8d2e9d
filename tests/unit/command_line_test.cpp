#include "kiosk/command_line.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(IsLaunchableFormUrl, OnlyWebAddressesWithoutControlBytes)
{
    struct Row {
        std::string url;
        bool launchable;
    } const rows[] = {
        {"https://forms.example/x", true},
        {"http://localhost/demo/form", true},
        {"HTTPS://Forms.Example/X", true},
        {"hTtP://x", true},
        {"https://f/a b?c=\"d\"", true},        // blanks and quotes are the quoting's business
        {"https://f/caf\xC3\xA9", true},
        {"x--y", false},                         // no scheme
        {" -x", false},                          // the browser trims the blank: a switch
        {" https://f/x", false},
        {"--disable-web-security", false},
        {"-x", false},
        {"/x", false},                           // a switch on Windows too
        {"", false},
        {"https:/", false},
        {"https:", false},
        {"ftp://f/x", false},
        {"file:///C:/x", false},
        {"javascript:alert(1)", false},
        {std::string("https://f/x\0\" --no-sandbox", 26), false},  // a NUL would cut the line
        {"https://f/x\ty", false},
        {"https://f/x\r\n--x", false},
        {"https://f/x\x1f", false},
        {"https://f/x\x7f", true},              // DEL is no control byte for the line
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsLaunchableFormUrl(r.url), r.launchable) << r.url;
}

}  // namespace
