#include "kiosk/violation_report_rules.h"

std::string ViolationDetail(ViolationKind kind, int count)
{
    const char* what = "";
    switch (kind) {
    case ViolationKind::SwitchedAway: what = "Siswa mencoba beralih dari jendela ujian PC"; break;
    case ViolationKind::BrowserClosed: what = "Browser ujian tertutup sebelum ujian selesai"; break;
    case ViolationKind::AppClosed: what = "Aplikasi ujian ditutup sebelum ujian selesai"; break;
    case ViolationKind::WrongPin: what = "PIN pengawas salah dimasukkan"; break;
    case ViolationKind::MoreScreens: what = "Lebih dari satu layar terhubung ke PC ujian"; break;
    case ViolationKind::SessionLeft: what = "Layar dikunci atau pengguna Windows diganti selama ujian"; break;
    case ViolationKind::SessionEnding: what = "PC dimatikan atau pengguna keluar dari Windows selama ujian"; break;
    case ViolationKind::WindowOnTop: what = "Jendela program lain tampil di atas jendela ujian"; break;
    case ViolationKind::ClipboardFilled: what = "Papan klip diisi program lain selama ujian"; break;
    case ViolationKind::Stalled: what = "Aplikasi ujian berhenti bekerja selama ujian"; break;
    case ViolationKind::ForgedSessionEnd:
        what = "Pesan palsu ke aplikasi ujian: Windows tidak sedang dimatikan";
        break;
    }
    return std::string(what) + " (Pelanggaran ke-" + std::to_string(count) + ")";
}

std::string FrozenDetail(std::uint64_t seconds, int count)
{
    return "Aplikasi ujian terhenti " + std::to_string(seconds) + " detik selama ujian (Pelanggaran ke-" +
           std::to_string(count) + ")";
}
