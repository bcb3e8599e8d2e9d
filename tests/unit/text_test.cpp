// UTF-8 <-> UTF-16 through the real platform converter.
#include "net/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(ToWide, ConvertsUtf8AndReplacesMalformedBytes)
{
    EXPECT_EQ(ToWide(""), L"");
    EXPECT_EQ(ToWide("caf\xC3\xA9"), L"caf\u00e9");
    EXPECT_EQ(ToWide("\xFF"), L"\ufffd");
    EXPECT_EQ(ToWide("\xF0\x9F\x98\x80"), L"\U0001F600");  // a surrogate pair
    const std::wstring withNul = ToWide("a\0b"s);
    ASSERT_EQ(withNul.size(), 3u);
    EXPECT_EQ(withNul[1], L'\0');
}

TEST(ToUtf8, ConvertsUtf16AndReplacesUnpairedSurrogates)
{
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToUtf8(L"caf\u00e9"), "caf\xC3\xA9");
    EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(L"a\0b"s), "a\0b"s);
    EXPECT_EQ(ToUtf8(L"\u2022 Ctrl + Alt + P"), "\xE2\x80\xA2 Ctrl + Alt + P");
}

TEST(ToWideToUtf8, RoundTripKeepsValidText)
{
    const std::string samples[] = {"Budi Santoso", "Kelas 5A", "Matematika Kelas 5 \xE2\x80\x93 Ulangan",
                                   "\xE6\xBC\xA2\xE5\xAD\x97", std::string(300, 'x')};
    for (const auto& s : samples)
        EXPECT_EQ(ToUtf8(ToWide(s)), s);
}

}  // namespace
