// The clipboard during an exam, on plain values.
#pragma once

#include "kiosk/owner_rules.h"

// A clipboard change worth a report: it left something to paste, and the
// window that made it (the clipboard's owner) is not the exam's (see
// BelongsToExam). A change without an owner window can come from any
// program, and counts. Copying inside the form is the browser's, and free.
bool ClipboardChangeToReport(const OwnerFacts& owner, bool holdsSomething);
