// The school's exam server: one host for every call, fixed when the program is
// built (-DEXAM_SERVER_HOST=...), always HTTPS on port 443.
#pragma once

extern const wchar_t kExamServerHost[];
extern const char kExamServerHostUtf8[];

inline constexpr wchar_t kVerifyPath[] = L"/api/exam/verify";
inline constexpr wchar_t kEventPath[] = L"/api/exam/event";
inline constexpr wchar_t kHeartbeatPath[] = L"/api/exam/heartbeat";
