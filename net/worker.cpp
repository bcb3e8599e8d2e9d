#include "net/worker.h"

#include "app/process_guard.h"

#include <system_error>
#include <thread>

bool StartDetachedWorker(std::function<void()> work)
{
    // std::thread reports a refused thread only by throwing; this is the one
    // place the program catches.
    try {
        std::thread([work = std::move(work)] {
            // The sender above all: ended from outside, the PC would go
            // silent without a word.
            ProtectOwnThread();
            work();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool (*g_startWorker)(std::function<void()> work) = StartDetachedWorker;
