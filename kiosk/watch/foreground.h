// The once-a-second watch during an exam (timer 301 on the start screen).
#pragma once

// One tick: reports time the program did not run, reports and ends the exam
// when the browser has exited, keeps the keyboard hook fresh, puts the bar
// back on top, reports other programs' windows kept above the exam, and
// counts and reports a foreign window in front as a violation. Does nothing
// when no exam runs.
void OnWatchTick();
