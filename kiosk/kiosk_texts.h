// Indonesian texts of the exam session: the bar, its boxes and the PIN prompt.
#pragma once

inline constexpr wchar_t kTextBarTitle[] = L"CBT Control";
inline constexpr wchar_t kTextFinishButton[] = L"Selesai Ujian";
inline constexpr wchar_t kTextProctorButton[] = L"Pengawas (PIN)";

inline constexpr wchar_t kCaptionConfirmFinish[] = L"Konfirmasi Selesai Ujian";
inline constexpr wchar_t kTextConfirmFinish[] =
    L"Pastikan Anda sudah menekan tombol KIRIM (Submit) pada Google Form.\n"
    L"Apakah Anda yakin ingin mengakhiri ujian sekarang?";
inline constexpr wchar_t kCaptionFinished[] = L"ORVEL SELVARO";
inline constexpr wchar_t kTextFinished[] = L"Ujian selesai. Status telah dilaporkan ke WhatsApp pengawas.";
inline constexpr wchar_t kTextFinishedNotReported[] =
    L"Ujian selesai, tetapi laporan belum sampai ke pengawas. Beritahu pengawas dan jangan tutup aplikasi ini dulu.";

inline constexpr wchar_t kTitlePinPrompt[] = L"Akses Pengawas";
inline constexpr wchar_t kTextPinLabel[] = L"Masukkan PIN Pengawas untuk keluar:";
inline constexpr wchar_t kTextUnlock[] = L"Buka Kunci";
inline constexpr wchar_t kTextCancel[] = L"Batal";
inline constexpr wchar_t kCaptionWrongPin[] = L"Peringatan";
inline constexpr wchar_t kTextWrongPin[] = L"PIN Pengawas salah.";

inline constexpr wchar_t kCaptionError[] = L"Error";
inline constexpr wchar_t kTextNoBrowser[] = L"Microsoft Edge atau Google Chrome tidak ditemukan di PC ini.";
inline constexpr wchar_t kTextBrowserFailed[] = L"Gagal membuka browser ujian.";
inline constexpr wchar_t kCaptionTempFolderUnusable[] = L"Peringatan";
inline constexpr wchar_t kTextTempFolderUnusable[] =
    L"Folder sementara Windows tidak dapat dipakai untuk ujian. Hubungi pengawas.";

// Event reports.
inline constexpr char kEventStartDetail[] = "Siswa memulai ujian di aplikasi PC.";
inline constexpr char kEventFinishDetail[] = "Siswa menyelesaikan ujian di aplikasi PC.";
inline constexpr char kEventProctorFinishDetail[] = "Ujian diakhiri oleh pengawas dengan PIN.";
