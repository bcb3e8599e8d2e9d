// Indonesian texts of the start screen. Non-ASCII characters are written as
// escapes so that every compiler reads the same code points.
#pragma once

inline constexpr wchar_t kTextStartButton[] = L"Mulai Ujian";
inline constexpr wchar_t kTextVerifying[] = L"Memverifikasi token...";
inline constexpr wchar_t kTextSendingReport[] = L"Mengirim laporan...";
inline constexpr wchar_t kTextRulesLink[] = L"Lihat Ketentuan Keamanan Ujian";

inline constexpr wchar_t kCaptionWarning[] = L"Peringatan";
inline constexpr wchar_t kTextFieldsMissing[] = L"Harap isi Nama Lengkap, Kelas, dan Token Ujian.";

inline constexpr wchar_t kCaptionRules[] = L"Ketentuan Keamanan Ujian";
inline constexpr wchar_t kTextRules[] =
    L"\u2022 Masukkan Nama Lengkap, Kelas, dan Token dari pengawas.\n"
    L"\u2022 Layar dikunci penuh (Alt+Tab, tombol Win, Alt+F4, PrintScreen diblokir).\n"
    L"\u2022 Status mulai, pelanggaran, dan selesai dikirim ke WhatsApp pengawas.\n"
    L"\u2022 Pintasan keluar pengawas: Ctrl + Alt + P.";

inline constexpr wchar_t kCaptionVerifyFailed[] = L"Verifikasi Gagal";
// Failure box texts for what the server reply alone does not explain.
inline constexpr wchar_t kTextNoWorker[] = L"Verifikasi tidak dapat dimulai. Silakan coba lagi.";
inline constexpr wchar_t kTextNoFormUrl[] = L"Server tidak mengirim alamat formulir ujian. Hubungi pengawas.";
inline constexpr wchar_t kTextBadFormUrl[] = L"Alamat formulir ujian dari server tidak valid. Hubungi pengawas.";

// Painted on the picture.
inline constexpr wchar_t kTextTitle[] = L"ORVEL Selvaro";
inline constexpr wchar_t kTextParagraph[] =
    L"Selamat mengerjakan ujian!\n"
    L"Percayalah pada kemampuanmu. Kerjakan setiap soal dengan tenang, penuh semangat, "
    L"dan percaya diri. Jangan terburu-buru, baca setiap pertanyaan dengan teliti, "
    L"pahami maksudnya, lalu berikan jawaban terbaikmu.";
inline constexpr wchar_t kTextNameLabel[] = L"Nama Lengkap Siswa *";
inline constexpr wchar_t kTextClassLabel[] = L"Kelas * (Contoh: 5A atau 6B)";
inline constexpr wchar_t kTextTokenLabel[] = L"Token Ujian Kelas *";
