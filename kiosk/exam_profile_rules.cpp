#include "kiosk/exam_profile_rules.h"

std::string ProfileFolderName(std::uint64_t random)
{
    static const char kHex[] = "0123456789abcdef";
    std::string name = kProfileFolderPrefix;
    for (int shift = 60; shift >= 0; shift -= 4)
        name += kHex[(random >> shift) & 0xF];
    return name;
}

bool IsProfileFolderName(std::string_view name)
{
    constexpr std::string_view kPrefix = kProfileFolderPrefix;
    if (name.size() != kPrefix.size() + 16 || name.substr(0, kPrefix.size()) != kPrefix)
        return false;
    for (const char c : name.substr(kPrefix.size()))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool IsUsableTempFolder(std::string_view path)
{
    if (path.empty() || path.back() != '\\')
        return false;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}
