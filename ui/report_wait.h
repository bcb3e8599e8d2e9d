// The start screen while the finish report is on its way to the server.
#pragma once

#include "net/report_queue.h"

#include <windows.h>

// Shows "Mengirim laporan..." on the disabled start button and handles the
// program's messages until the report is delivered or refused, the quit
// message arrives (it is posted again for the main loop) or timeoutMs has
// passed; then gives the button back. True when the report was delivered.
bool WaitForReportOnStartScreen(ReportId id, DWORD timeoutMs);
