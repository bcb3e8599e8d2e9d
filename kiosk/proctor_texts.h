// Indonesian texts of what the proctor does from the proctor's page.
#pragma once

inline constexpr wchar_t kTitleProctorMessage[] = L"Pesan Pengawas";
inline constexpr wchar_t kTextOk[] = L"OK";
inline constexpr wchar_t kTextScreenLocked[] = L"Layar dikunci oleh pengawas. Tunggu pengawas datang.";
inline constexpr wchar_t kCaptionEndedFromPage[] = L"ORVEL SELVARO";
inline constexpr wchar_t kTextEndedFromPage[] = L"Ujian diakhiri oleh pengawas.";

// The exam's end from the page, as reported.
inline constexpr char kEventPageFinishDetail[] = "Ujian diakhiri oleh pengawas dari halaman pengawas.";
