#include "kiosk/watch/pc_rules.h"

bool MoreScreensToReport(int lastCount, int count)
{
    return count > 1 && count > lastCount;
}

bool SessionChangeLeavesExam(std::uint32_t code)
{
    constexpr std::uint32_t kConsoleDisconnect = 2, kRemoteDisconnect = 4, kSessionLock = 7;
    return code == kSessionLock || code == kConsoleDisconnect || code == kRemoteDisconnect;
}

bool SessionEndWasForged(std::uint64_t endedAt, std::uint64_t now)
{
    return endedAt != 0 && now >= endedAt && now - endedAt >= kSessionEndGraceMs;
}
