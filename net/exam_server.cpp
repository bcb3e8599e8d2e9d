#include "net/exam_server.h"

// ORVEL_EXAM_SERVER_HOST comes from the build as a plain string literal.
const wchar_t kExamServerHost[] = L"" ORVEL_EXAM_SERVER_HOST;
const char kExamServerHostUtf8[] = ORVEL_EXAM_SERVER_HOST;
