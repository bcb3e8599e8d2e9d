#include "kiosk/watch/owner_rules.h"

#include "kiosk/ascii_case.h"
#include "kiosk/browser_paths.h"

bool OwnerLookupNeeded(const OwnerFacts& owner)
{
    return owner.pid != 0 && !owner.ownProcess && owner.pid != owner.browserPid;
}

bool BelongsToExam(const OwnerFacts& owner)
{
    if (owner.pid == 0)
        return false;
    if (owner.ownProcess || (owner.browserPid != 0 && owner.pid == owner.browserPid))
        return true;
    if (owner.examJob)
        return owner.inExamJob == true;
    return !owner.image || IsBrowserImagePath(*owner.image);
}

bool IsBrowserImagePath(std::string_view path)
{
    for (const char* candidate : kBrowserPaths)
        if (EqualsIgnoringAsciiCase(path, candidate))
            return true;
    return false;
}

bool IsAccessibilityPromptImage(std::string_view image, std::string_view systemFolder)
{
    constexpr std::string_view kName = "sethc.exe";
    if (systemFolder.empty())
        return false;
    while (systemFolder.size() > 1 && systemFolder.back() == '\\')
        systemFolder.remove_suffix(1);
    return image.size() == systemFolder.size() + 1 + kName.size() &&
           StartsWithIgnoringAsciiCase(image, systemFolder) && image[systemFolder.size()] == '\\' &&
           EqualsIgnoringAsciiCase(image.substr(systemFolder.size() + 1), kName);
}
