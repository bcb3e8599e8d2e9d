// Time the program did not run during an exam (suspended from outside, the
// PC asleep, a debugger), seen by the watch's ticks once it runs again.
#pragma once

// At the launch, once the watch's timer runs: the ticks count from now.
void StartFreezeWatch();
// On every tick of the watch during an exam: a gap of more than 5 s since
// the previous tick is reported, apart from the watch's spacing (it neither
// waits for it nor moves it).
void CheckForFreeze();
