// Ending an exam session: every road out of an exam comes through here.
#pragma once

// Ends the kiosk browser process launched for the exam, and its job, waits
// (a few seconds at most) until their processes are gone, and closes their
// handles. Does nothing when no browser is recorded.
void TerminateBrowser();

// Undoes the exam set-up (flag, timer, hooks, browser, its profile folder,
// bar), empties the clipboard when an exam was running, and brings the start
// screen back to the front. Safe at any time, also with no exam running.
void StopExamAndRestore();

// The proctor's right PIN: the end is reported ("FINISH"), so that a student
// who saw the PIN typed cannot end the exam unseen, then the exam is taken
// down. No box: the proctor is at the PC.
void EndExamByProctor();

// The program is closing during an exam (its start screen destroyed, or its
// message loop ended by a quit message): the proctor hears of it before the
// exam is taken down. Nothing is reported when no exam runs.
void EndExamAsProgramCloses();
