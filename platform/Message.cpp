#include "platform/Message.h"

#include "platform/KernelObject.h"
#include "platform/MessageSource.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <cerrno>
#include <vector>

namespace {

struct Queue {
    std::mutex mu;
    std::deque<MSG> messages;
    velmo::Handle ready{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::vector<velmo::detail::MessageSource*> sources;  // guarded by mu
};

struct Queues {
    std::mutex mu;
    std::map<DWORD, std::shared_ptr<Queue>> byThread;
};

Queues& TheQueues()
{
    static Queues* q = new Queues();  // never destroyed: late threads may still post
    return *q;
}

std::shared_ptr<Queue> QueueOf(DWORD threadId)
{
    Queues& all = TheQueues();
    std::lock_guard lock(all.mu);
    auto& q = all.byThread[threadId];
    if (!q)
        q = std::make_shared<Queue>();
    return q;
}

// Waits until the queue may hold a message, serving the thread's sources
// meanwhile. False when waiting failed.
bool WaitForMessageOrSource(Queue& q)
{
    std::vector<velmo::detail::MessageSource*> sources;
    {
        std::lock_guard lock(q.mu);
        sources = q.sources;
    }
    if (sources.empty())
        return WaitForSingleObject(q.ready.get(), INFINITE) == WAIT_OBJECT_0;

    std::vector<pollfd> fds;
    fds.push_back(pollfd{velmo::detail::FromHandle(q.ready.get())->fd(), POLLIN, 0});
    int wait = -1;
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

void AttachMessageSource(DWORD threadId, MessageSource* source)
{
    auto q = QueueOf(threadId);
    std::lock_guard lock(q->mu);
    q->sources.push_back(source);
}

void DetachMessageSource(DWORD threadId, MessageSource* source)
{
    auto q = QueueOf(threadId);
    std::lock_guard lock(q->mu);
    std::erase(q->sources, source);
}

}  // namespace velmo::detail

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (threadId == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto q = QueueOf(threadId);
    std::lock_guard lock(q->mu);
    q->messages.push_back(MSG{nullptr, message, wParam, lParam, 0, {0, 0}});
    SetEvent(q->ready.get());
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL GetMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax)
{
    if (!msg || window || filterMin || filterMax) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto q = QueueOf(GetCurrentThreadId());
    while (true) {
        {
            std::lock_guard lock(q->mu);
            if (!q->messages.empty()) {
                *msg = q->messages.front();
                q->messages.pop_front();
                if (q->messages.empty())
                    ResetEvent(q->ready.get());
                return msg->message == WM_QUIT ? 0 : 1;
            }
        }
        if (!WaitForMessageOrSource(*q))
            return -1;
    }
}

BOOL PeekMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    if (!msg || window || filterMin || filterMax) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto q = QueueOf(GetCurrentThreadId());
    std::lock_guard lock(q->mu);
    if (q->messages.empty())
        return FALSE;
    *msg = q->messages.front();
    if (remove & PM_REMOVE) {
        q->messages.pop_front();
        if (q->messages.empty())
            ResetEvent(q->ready.get());
    }
    return TRUE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LONG DispatchMessageW(const MSG*) { return 0; }
