#include "kiosk/clipboard_rules.h"

bool ClipboardChangeToReport(const OwnerFacts& owner, bool holdsSomething)
{
    return holdsSomething && !BelongsToExam(owner);
}
