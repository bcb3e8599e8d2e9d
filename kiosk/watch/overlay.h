// Windows of other programs over the exam's window (see overlay_rules.h),
// looked at on each tick of the watch.
#pragma once

// At the launch: no window has been reported in this exam.
void StartOverlayWatch();

// Reports each window over the exam once, for as long as it exists, apart
// from the spacing of the window in front (neither held back by it nor
// moving it).
void ReportWindowsOnTop();
