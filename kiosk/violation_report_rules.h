// What each kind of violation tells the proctor, on plain values.
#pragma once

#include <cstdint>
#include <string>

enum class ViolationKind {
    SwitchedAway,   // the watch found another program in front
    BrowserClosed,  // the exam's browser ended by itself
    AppClosed,      // the program was closed during the exam
    WrongPin,       // a wrong PIN in the proctor's prompt
    MoreScreens,    // a second screen shows what the exam cannot see
    SessionLeft,    // the screen locked, or another Windows user switched to
    SessionEnding,  // Windows signs out or shuts down
    WindowOnTop,    // another program's window stays above the exam
    ClipboardFilled,  // another program put something on the clipboard
    Stalled,        // the window thread stopped (seen by the sender thread)
    ForgedSessionEnd,  // an end of the Windows session that Windows did not follow
};

// The detail of the violation report, numbered with the new count, e.g.
// "Siswa mencoba beralih dari jendela ujian PC (Pelanggaran ke-3)".
std::string ViolationDetail(ViolationKind kind, int count);

// "Aplikasi ujian terhenti N detik selama ujian (Pelanggaran ke-M)".
std::string FrozenDetail(std::uint64_t seconds, int count);
