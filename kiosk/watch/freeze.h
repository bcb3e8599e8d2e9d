// Time the program did not run during an exam (suspended from outside, the
// PC asleep, a debugger), seen by the watch's ticks once it runs again.
#pragma once

// At the launch, once the watch's timer runs: the ticks count from now. Also
// after the program itself held this thread on purpose (the wait for the
// reports at the end of the Windows session).
void StartFreezeWatch();
// On every tick of the watch during an exam: stamps the tick for the sender
// (see WatchWindowThread); a gap of more than 5 s since the previous tick is
// reported, apart from the watch's spacing (it neither waits for it nor
// moves it), unless the sender reported that stall already.
void CheckForFreeze();
