#include "net/worker.h"

#include <system_error>
#include <thread>

bool StartDetachedWorker(std::function<void()> work)
{
    // std::thread reports a refused thread only by throwing; this is the one
    // place the program catches.
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool (*g_startWorker)(std::function<void()> work) = StartDetachedWorker;
