// Messages a device asked to have retried, held for a short pause before
// they are dispatched again, so a device that answers "retry" at once is
// not handed the same message in a tight loop.
//
// A held message keeps the reference Add took until its time has come and
// the dispatch function has run, or until Stop drops it (its file still
// waits in out/ for the next start). One thread, started by Start, runs
// the dispatch function, in the order the messages fall due; the lock
// guards the held list only and is never held while dispatching.
#pragma once

#include "platform/Sync.h"
#include "messagefile/MessageRecord.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace velmo::queue {

class RetryQueue {
public:
    // Runs for each message whose pause is over; for each one Stop drops,
    // dropped runs instead.
    RetryQueue(std::function<void(messagefile::MessageRecord*)> due,
               std::function<void(messagefile::MessageRecord*)> dropped)
        : due_(std::move(due)), dropped_(std::move(dropped))
    {}
    ~RetryQueue() { Stop(); }
    RetryQueue(const RetryQueue&) = delete;
    RetryQueue& operator=(const RetryQueue&) = delete;

    // Starts the thread; false when it cannot be created (messages added
    // then are dispatched at once).
    bool Start();
    // Holds the message (a reference is taken) for pauseMs.
    void Add(messagefile::MessageRecord* record, DWORD pauseMs);
    // Ends the thread and drops what is held.
    void Stop();
    std::size_t Held();

private:
    static DWORD ThreadMain(void* self);
    void Loop();

    struct Waiting {
        std::int64_t due;
        messagefile::RecordPtr record;
    };
    std::function<void(messagefile::MessageRecord*)> due_, dropped_;
    std::mutex lock_;
    std::deque<Waiting> held_;  // in order of due time: every pause is the same
    Handle wake_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    Handle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Handle thread_;
};

}  // namespace velmo::queue
