// The program's own process, shielded from the user's other programs.
#pragma once

// Replaces the process's access list: SYSTEM and Administrators keep every
// right (IT can still end the program); the user, and the owner whoever it
// is, may only query it, read its access list and wait for its end: no
// ending, suspending, reading or writing its memory, starting threads in it,
// taking its handles or changing it. The OWNER RIGHTS entry takes away the
// owner's implicit right to rewrite the list. The program's own handle to
// itself keeps every right. False when the list could not be set; the
// program then runs as before.
bool ProtectOwnProcess();

// The same list on the calling thread, with the thread's rights: the user's
// other programs may query it and wait for its end, not end, suspend or
// change it. Every thread of the program calls it first.
bool ProtectOwnThread();

// Where Windows offers them (looked up at run time, skipped where missing):
// no legacy hook or AppInit DLL is loaded into the process, and DLLs loaded
// by name come from the system folder only.
void KeepForeignCodeOut();
