// What the one shipped file carries: the icon in five PNG sizes, the
// background JPEG and the version block, read back from the built exe.
#include "driver.h"

#include <gtest/gtest.h>
#include <winver.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
};
#pragma pack(pop)

struct Blob {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

Blob Resource(HMODULE module, LPCWSTR type, LPCWSTR name)
{
    HRSRC info = FindResourceW(module, name, type);
    if (!info)
        return {};
    return {static_cast<const BYTE*>(LockResource(LoadResource(module, info))), SizeofResource(module, info)};
}

DWORD BigEndian32(const BYTE* p) { return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | p[3]; }

TEST(Resources, IconHasFivePngSizesWithoutAlpha)
{
    HMODULE exe = LoadLibraryExW(driver::AppPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    const Blob group = Resource(exe, RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size, sizeof(GroupIconHeader));
    GroupIconHeader header;
    std::memcpy(&header, group.data, sizeof(header));
    ASSERT_EQ(header.type, 1);
    ASSERT_EQ(header.count, 5);
    ASSERT_EQ(group.size, sizeof(GroupIconHeader) + 5 * sizeof(GroupIconEntry));

    const int sizes[] = {16, 32, 48, 64, 256};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(sizes[i]);
        GroupIconEntry e;
        std::memcpy(&e, group.data + sizeof(header) + i * sizeof(e), sizeof(e));
        EXPECT_EQ(e.width, sizes[i] == 256 ? 0 : sizes[i]);
        EXPECT_EQ(e.bitCount, 32);
        const Blob image = Resource(exe, RT_ICON, MAKEINTRESOURCEW(e.id));
        ASSERT_GE(image.size, 26u);
        EXPECT_EQ(std::memcmp(image.data, "\x89PNG\r\n\x1a\n", 8), 0) << "PNG-compressed";
        EXPECT_EQ(BigEndian32(image.data + 16), DWORD(sizes[i])) << "PNG width";
        EXPECT_EQ(BigEndian32(image.data + 20), DWORD(sizes[i])) << "PNG height";
        EXPECT_EQ(image.data[25], 2) << "RGB without alpha";
        // The system can make an icon of that size from it.
        HICON icon = static_cast<HICON>(LoadImageW(exe, MAKEINTRESOURCEW(1), IMAGE_ICON, sizes[i], sizes[i], 0));
        EXPECT_NE(icon, nullptr);
        if (icon)
            DestroyIcon(icon);
    }
    FreeLibrary(exe);
}

TEST(Resources, BackgroundIsABaselinePortraitJpeg)
{
    HMODULE exe = LoadLibraryExW(driver::AppPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    const Blob jpeg = Resource(exe, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(101));
    ASSERT_GT(jpeg.size, 4u);
    ASSERT_EQ(jpeg.data[0], 0xFF);
    ASSERT_EQ(jpeg.data[1], 0xD8);
    // Walk the markers to the frame header.
    DWORD at = 2;
    bool baseline = false;
    int width = 0, height = 0;
    while (at + 9 < jpeg.size && jpeg.data[at] == 0xFF) {
        const BYTE marker = jpeg.data[at + 1];
        const DWORD length = (DWORD(jpeg.data[at + 2]) << 8) | jpeg.data[at + 3];
        if (marker == 0xC0 || marker == 0xC2) {
            baseline = marker == 0xC0;
            height = (jpeg.data[at + 5] << 8) | jpeg.data[at + 6];
            width = (jpeg.data[at + 7] << 8) | jpeg.data[at + 8];
            break;
        }
        at += 2 + length;
    }
    EXPECT_TRUE(baseline);
    EXPECT_EQ(width, 941);
    EXPECT_EQ(height, 1672);
    FreeLibrary(exe);
}

// One string of the version block's US English, Unicode table.
std::wstring VersionString(const std::vector<BYTE>& info, const std::wstring& name)
{
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value)
        return L"<absent>";
    const wchar_t* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, length));
}

// Read as Explorer's Properties > Details would: through version.dll.
void ExpectProjectVersion(const std::wstring& exe)
{
    // ORVEL_EXPECTED_VERSION is the CMake project's version, e.g. "1.0.0";
    // the fixed block has four numbers, missing ones are 0.
    const std::string expected = ORVEL_EXPECTED_VERSION;
    unsigned parts[4] = {};
    ASSERT_GE(std::sscanf(expected.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]), 1);
    const std::wstring expectedText(expected.begin(), expected.end());
    const std::wstring expectedFixed = std::to_wstring(parts[0]) + L"." + std::to_wstring(parts[1]) + L"." +
                                       std::to_wstring(parts[2]) + L"." + std::to_wstring(parts[3]);

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    void* block = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &block, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block, sizeof(fixed));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    const auto Dotted = [](DWORD ms, DWORD ls) {
        return std::to_wstring(HIWORD(ms)) + L"." + std::to_wstring(LOWORD(ms)) + L"." + std::to_wstring(HIWORD(ls)) +
               L"." + std::to_wstring(LOWORD(ls));
    };
    EXPECT_EQ(Dotted(fixed.dwFileVersionMS, fixed.dwFileVersionLS), expectedFixed) << "FILEVERSION";
    EXPECT_EQ(Dotted(fixed.dwProductVersionMS, fixed.dwProductVersionLS), expectedFixed) << "PRODUCTVERSION";
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_APP));

    // The language and code page a reader looks the strings up under.
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &block, &length));
    ASSERT_GE(length, 2 * sizeof(WORD));
    WORD translation[2];
    std::memcpy(translation, block, sizeof(translation));
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(VersionString(info, L"FileVersion"), expectedText);
    EXPECT_EQ(VersionString(info, L"ProductVersion"), expectedText);
    EXPECT_EQ(VersionString(info, L"ProductName"), L"ORVEL Selvaro CBT");
    EXPECT_EQ(VersionString(info, L"FileDescription"), L"ORVEL Selvaro CBT exam launcher");
    EXPECT_EQ(VersionString(info, L"CompanyName"), L"ORVEL Selvaro");
    EXPECT_EQ(VersionString(info, L"OriginalFilename"), L"orvel-cbt.exe");
}

// Both builds of the exe: the test build without the background shares the block.
TEST(Resources, VersionInfoCarriesTheProjectVersion)
{
    {
        SCOPED_TRACE("orvel-cbt.exe");
        ExpectProjectVersion(driver::AppPath());
    }
    const std::wstring nobg = driver::BuildFile(L"orvel-cbt-nobg.exe");
    ASSERT_NE(GetFileAttributesW(nobg.c_str()), INVALID_FILE_ATTRIBUTES)
        << "orvel-cbt-nobg.exe is not built (it is built with the screenshot tests)";
    SCOPED_TRACE("orvel-cbt-nobg.exe");
    ExpectProjectVersion(nobg);
}

}  // namespace
