#include "platform/MainLoop.h"

#include "platform/KernelObject.h"
#include "platform/LoopSource.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// What one thread's loop is asked: its flags, the event that wakes it and
// the sources it serves.
struct Loop {
    std::mutex mu;
    bool quit = false;
    bool busLost = false;
    velmo::Handle wake{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::vector<velmo::detail::LoopSource*> sources;  // guarded by mu
};

struct Loops {
    std::mutex mu;
    std::map<DWORD, std::shared_ptr<Loop>> byThread;
};

Loops& TheLoops()
{
    static Loops* loops = new Loops();  // never destroyed: late threads may still ask
    return *loops;
}

std::shared_ptr<Loop> LoopOf(DWORD threadId)
{
    Loops& all = TheLoops();
    std::lock_guard lock(all.mu);
    auto& loop = all.byThread[threadId];
    if (!loop)
        loop = std::make_shared<Loop>();
    return loop;
}

// The event the loop was asked for, taken (and the wake event reset when
// nothing is left); TimedOut when none is.
velmo::LoopEvent Take(Loop& loop)
{
    std::lock_guard lock(loop.mu);
    velmo::LoopEvent event = velmo::LoopEvent::TimedOut;
    if (loop.quit) {
        loop.quit = false;
        event = velmo::LoopEvent::Quit;
    } else if (loop.busLost) {
        loop.busLost = false;
        event = velmo::LoopEvent::BusLost;
    }
    if (!loop.quit && !loop.busLost)
        ResetEvent(loop.wake.get());
    return event;
}

// Waits up to waitMs (-1: no limit) for the loop's event or a source,
// serving the sources meanwhile. False when waiting failed.
bool WaitAndServe(Loop& loop, int waitMs)
{
    std::vector<velmo::detail::LoopSource*> sources;
    {
        std::lock_guard lock(loop.mu);
        sources = loop.sources;
    }
    std::vector<pollfd> fds;
    fds.push_back(pollfd{velmo::detail::FromHandle(loop.wake.get())->fd(), POLLIN, 0});
    int wait = waitMs;
    for (auto* source : sources) {
        int w = source->Prepare(fds);
        if (w >= 0)
            wait = wait < 0 ? w : std::min(wait, w);
    }
    if (poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
        return false;
    for (auto* source : sources)
        source->Serve();
    return true;
}

}  // namespace

namespace velmo::detail {

void AttachLoopSource(DWORD threadId, LoopSource* source)
{
    auto loop = LoopOf(threadId);
    std::lock_guard lock(loop->mu);
    loop->sources.push_back(source);
}

void DetachLoopSource(DWORD threadId, LoopSource* source)
{
    auto loop = LoopOf(threadId);
    std::lock_guard lock(loop->mu);
    std::erase(loop->sources, source);
}

void NotifyBusLost(DWORD threadId)
{
    auto loop = LoopOf(threadId);
    std::lock_guard lock(loop->mu);
    loop->busLost = true;
    SetEvent(loop->wake.get());
}

}  // namespace velmo::detail

namespace velmo {

bool QuitMainLoop(DWORD threadId)
{
    if (threadId == 0)
        return false;
    auto loop = LoopOf(threadId);
    std::lock_guard lock(loop->mu);
    loop->quit = true;
    SetEvent(loop->wake.get());
    return true;
}

LoopEvent RunMainLoop(int timeoutMs)
{
    auto loop = LoopOf(GetCurrentThreadId());
    const std::int64_t deadline = SteadyMs() + std::max(timeoutMs, 0);
    while (true) {
        LoopEvent event = Take(*loop);
        if (event != LoopEvent::TimedOut)
            return event;
        int wait = -1;
        if (timeoutMs >= 0) {
            std::int64_t left = deadline - SteadyMs();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        if (!WaitAndServe(*loop, wait))
            return LoopEvent::Failed;
        if (wait == 0) {
            event = Take(*loop);
            return event;
        }
    }
}

}  // namespace velmo
