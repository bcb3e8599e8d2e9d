#include "kiosk/exam_profile_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(ProfileFolderName, SixteenLowerCaseHexDigitsOfTheRandomBitsThatItsPatternRecognises)
{
    struct {
        std::uint64_t random;
        const char* name;
    } const rows[] = {
        {0, "cbt_orvel_profile_0000000000000000"},
        {0x0123456789ABCDEFull, "cbt_orvel_profile_0123456789abcdef"},
        {0xFFFFFFFFFFFFFFFFull, "cbt_orvel_profile_ffffffffffffffff"},
        {0xF, "cbt_orvel_profile_000000000000000f"},
        {0xF000000000000000ull, "cbt_orvel_profile_f000000000000000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ProfileFolderName(r.random), r.name);
        EXPECT_TRUE(IsProfileFolderName(r.name)) << r.name;
    }
}

TEST(IsProfileFolderName, OnlyTheProgramsOwnNamesAreItsToRemove)
{
    for (const char* name : {
             "cbt_orvel_profile",                     // the fixed folder of earlier versions
             "cbt_orvel_profile_",
             "cbt_orvel_profile_0123456789abcde",     // 15 digits
             "cbt_orvel_profile_0123456789abcdef0",   // 17 digits
             "cbt_orvel_profile_0123456789ABCDEF",    // upper case is not a name it gives
             "cbt_orvel_profile_0123456789abcdeg",
             "cbt_orvel_profile_0123456789abcde ",
             "CBT_ORVEL_PROFILE_0123456789abcdef",
             "xcbt_orvel_profile_0123456789abcdef",
             "cbt_orvel_profile_0123456789abcdef.old",
             "cbt_orvel_profile_0123456789abcdef\\..",
             "",
         })
        EXPECT_FALSE(IsProfileFolderName(name)) << name;
}

TEST(IsUsableTempFolder, APathTheCommandLineCarriesBetweenQuotes)
{
    struct {
        const char* what;
        std::string path;
        bool usable;
    } const rows[] = {
        {"the usual", "C:\\Users\\siswa\\AppData\\Local\\Temp\\", true},
        {"blanks and non-ASCII letters", "C:\\Users\\Siti Nur\xC3\xA9\\AppData\\Local\\Temp\\", true},
        {"a network share", "\\\\server\\temp\\", true},
        {"a switch-like folder name", "C:\\--disable-web-security\\", true},
        {"a double quote", "C:\\te\"mp\\", false},
        {"a quote that would add a switch", "C:\\x\" --remote-debugging-port=9222 \"\\", false},
        {"a tab", "C:\\te\tmp\\", false},
        {"a line feed", "C:\\temp\n\\", false},
        {"DEL", std::string("C:\\te\x7Fmp\\"), false},
        {"a NUL inside", std::string("C:\\te\0mp\\", 9), false},
        {"no trailing backslash", "C:\\temp", false},
        {"empty (no temporary folder)", "", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(IsUsableTempFolder(r.path), r.usable) << r.what;
}

}  // namespace
