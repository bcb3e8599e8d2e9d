#include "kiosk/pc_rules.h"

bool MoreScreensToReport(int lastCount, int count)
{
    return count > 1 && count > lastCount;
}

bool SessionChangeLeavesExam(std::uint32_t code)
{
    constexpr std::uint32_t kConsoleDisconnect = 2, kRemoteDisconnect = 4, kSessionLock = 7;
    return code == kSessionLock || code == kConsoleDisconnect || code == kRemoteDisconnect;
}
