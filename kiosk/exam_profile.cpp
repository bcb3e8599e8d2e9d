#include "kiosk/exam_profile.h"

#include "kiosk/exam_profile_rules.h"
#include "net/random.h"
#include "net/text.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

std::wstring g_profileFolder;
HANDLE g_profileHandle = INVALID_HANDLE_VALUE;

// The temporary folder as Windows gives it (ending with a backslash), or
// empty when there is none.
std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 2, temp);
    if (length == 0 || length > MAX_PATH + 1)
        return {};
    return std::wstring(temp, length);
}

std::uint64_t RandomBits()
{
    std::uint64_t bits = 0;
    FillRandom(reinterpret_cast<std::uint8_t*>(&bits), sizeof(bits));
    return bits;
}

// A path as the deletion functions take it beyond MAX_PATH characters (a
// browser's profile nests deep).
std::wstring Long(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    return path;
}

struct Entry {
    std::wstring name;
    DWORD attributes;
};

// The entries of a folder that match `pattern`, "." and ".." aside, read
// whole before anything is removed from it.
std::vector<Entry> List(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<Entry> entries;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(Long(folder + pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({name, found.dwFileAttributes});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

// Removes the folder and what it holds. A link inside (a junction, a
// symbolic link) is removed itself, never followed: what it points to is not
// the program's.
bool RemoveTree(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(Long(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveDirectoryW(Long(folder).c_str()) != 0;
    bool removed = true;
    for (const Entry& entry : List(folder + L"\\", L"*")) {
        const std::wstring path = folder + L"\\" + entry.name;
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            removed = RemoveTree(path) && removed;
            continue;
        }
        if (entry.attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        removed = DeleteFileW(Long(path).c_str()) && removed;
    }
    return RemoveDirectoryW(Long(folder).c_str()) && removed;
}

// Held open without delete sharing, the folder can be neither removed nor
// renamed, and a check of the same kind (InUse) sees it taken.
HANDLE HoldFolder(const std::wstring& folder)
{
    return CreateFileW(Long(folder).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Another process holds the folder open (another copy of the program, for
// its running exam).
bool InUse(const std::wstring& folder)
{
    HANDLE alone = CreateFileW(Long(folder).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (alone == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(alone);
    return false;
}

}  // namespace

std::wstring CreateExamProfile()
{
    RemoveExamProfile();  // an earlier exam's, should it still be recorded
    const std::wstring temp = TempFolder();
    if (!IsUsableTempFolder(ToUtf8(temp)))
        return {};
    // A name that exists already was not made for this exam: take another.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring folder = temp + ToWide(ProfileFolderName(RandomBits()));
        if (!CreateDirectoryW(Long(folder).c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return {};
        }
        g_profileHandle = HoldFolder(folder);
        g_profileFolder = folder;
        return folder;
    }
    return {};
}

void RemoveExamProfile()
{
    if (g_profileHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(g_profileHandle);
        g_profileHandle = INVALID_HANDLE_VALUE;
    }
    if (g_profileFolder.empty())
        return;
    RemoveTree(g_profileFolder);
    g_profileFolder.clear();
}

void RemoveLeftoverProfiles()
{
    const std::wstring temp = TempFolder();
    if (!IsUsableTempFolder(ToUtf8(temp)))
        return;
    for (const Entry& entry : List(temp, ToWide(kProfileFolderPrefix) + L"*")) {
        const std::wstring folder = temp + entry.name;
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && IsProfileFolderName(ToUtf8(entry.name)) &&
            !InUse(folder))
            RemoveTree(folder);
    }
}
