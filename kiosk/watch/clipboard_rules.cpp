#include "kiosk/watch/clipboard_rules.h"

#include "kiosk/lockdown/key_rules.h"

bool IsCopyKey(std::uint32_t key, std::uint32_t message, bool ctrl, bool shift)
{
    if (message != vk::kKeyDown && message != vk::kSysKeyDown)
        return false;
    if (ctrl)
        return key == vk::kC || key == vk::kX || key == vk::kInsert;
    return shift && key == vk::kDelete;
}

bool ClipboardChangeToReport(const OwnerFacts& owner, bool holdsSomething, std::optional<std::uint64_t> msSinceCopyKey)
{
    if (!holdsSomething)
        return false;
    if (!BelongsToExam(owner))
        return true;
    return !msSinceCopyKey || *msSinceCopyKey > kCopyKeyExplainsMs;
}

bool StaleClipboardToReport(std::uint32_t sequenceAtStart, std::uint32_t sequenceNow, bool holdsSomething,
                            std::uint64_t msSinceStart, bool reportedAlready)
{
    return !reportedAlready && holdsSomething && sequenceNow == sequenceAtStart &&
           msSinceStart >= kStaleClipboardAfterMs;
}
