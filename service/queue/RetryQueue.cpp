#include "service/queue/RetryQueue.h"

#include "platform/Timing.h"

namespace velmo::queue {

bool RetryQueue::Start()
{
    ResetEvent(stop_.get());
    thread_ = Handle(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

void RetryQueue::Add(messagefile::MessageRecord* record, DWORD pauseMs)
{
    if (!thread_) {
        due_(record);
        return;
    }
    {
        std::lock_guard lock(lock_);
        held_.push_back({SteadyMs() + pauseMs, messagefile::RecordPtr(record)});
    }
    SetEvent(wake_.get());
}

void RetryQueue::Stop()
{
    SetEvent(stop_.get());
    if (thread_) {
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_ = Handle();
    }
    std::deque<Waiting> left;
    {
        std::lock_guard lock(lock_);
        left.swap(held_);
    }
    for (Waiting& h : left)
        dropped_(h.record.get());
}

std::size_t RetryQueue::Held()
{
    std::lock_guard lock(lock_);
    return held_.size();
}

DWORD RetryQueue::ThreadMain(void* self)
{
    static_cast<RetryQueue*>(self)->Loop();
    return 0;
}

void RetryQueue::Loop()
{
    while (true) {
        messagefile::RecordPtr ready;
        DWORD wait = INFINITE;
        {
            std::lock_guard lock(lock_);
            if (!held_.empty()) {
                std::int64_t left = held_.front().due - SteadyMs();
                if (left <= 0) {
                    ready = std::move(held_.front().record);
                    held_.pop_front();
                } else {
                    wait = static_cast<DWORD>(left);
                }
            }
        }
        if (ready) {
            due_(ready.get());
            continue;
        }
        HANDLE waits[2] = {stop_.get(), wake_.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0)
            return;
    }
}

}  // namespace velmo::queue
