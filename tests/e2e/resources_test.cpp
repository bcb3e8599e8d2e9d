// What the one shipped file carries: the icon in five PNG sizes and the
// background JPEG, read back from the built exe as a data file.
#include "driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

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

}  // namespace
