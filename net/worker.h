// Starting the short-lived, detached worker threads of the program.
#pragma once

#include <functional>

// Runs work on a new thread, detached at once. False when the system refused
// the thread; work has then not run and will not.
bool StartDetachedWorker(std::function<void()> work);

// The starter in use; tests put one in its place that refuses.
extern bool (*g_startWorker)(std::function<void()> work);
