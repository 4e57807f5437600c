#include "http/StopSignals.h"

#include "platform/Service.h"

#include <atomic>
#include <mutex>

namespace velmo::http {

namespace {

std::mutex gLock;
std::function<void()> gStop;
std::atomic<bool> gRequested{false};

BOOL OnSignal(DWORD)
{
    gRequested = true;
    std::lock_guard lock(gLock);
    if (gStop)
        gStop();
    return TRUE;
}

}  // namespace

bool StopOnSignals(std::function<void()> stop)
{
    {
        std::lock_guard lock(gLock);
        gStop = std::move(stop);
    }
    return SetConsoleCtrlHandler(OnSignal, TRUE) != FALSE;
}

bool StopRequested() { return gRequested; }

}  // namespace velmo::http
