// The event-handler queue: received messages are stored in in/ and queued
// here for the handlers, whose classes it keeps in configuration order.
// One thread offers each message, oldest first, to the chain: for every
// class a new handler object is created in process, its "OnIncoming" is
// called with a NewSMS object (From, Body, Date; To null), and the chain
// ends at the first answer whose 32-bit value is velmoBreak. Handlers that
// cannot be created, lack "OnIncoming" or fail are passed over. The lock
// guards the pending queue only and is never held while a file is written
// or a handler runs.
#pragma once

#include "platform/Guid.h"
#include "messagefile/MessageRecord.h"

#include <deque>
#include <mutex>
#include <vector>

namespace velmo::host {
class ServiceModule;
}

namespace velmo::store {

class EventHandlerQueue {
public:
    static constexpr LONG kWakeLimit = 8192;

    explicit EventHandlerQueue(host::ServiceModule& module) : module_(module) {}
    ~EventHandlerQueue();
    EventHandlerQueue(const EventHandlerQueue&) = delete;
    EventHandlerQueue& operator=(const EventHandlerQueue&) = delete;

    // Appends a handler class; called before the handler thread runs.
    void AddHandler(const CLSID& clsid) { handlers_.push_back(clsid); }
    const std::vector<CLSID>& Handlers() const { return handlers_; }

    // Saves the record into in/ and queues a reference to it; the save's
    // failure when it cannot be saved (nothing is queued then).
    HRESULT StoreIncoming(MessageRecord* record);
    std::size_t PendingCount();

    // Starts the handler thread (created suspended, then resumed).
    void Start();
    // Signals the stop event and waits up to 10 s, then abandons the thread.
    void Stop();

private:
    static DWORD ThreadMain(void* self);
    void Offer(MessageRecord* record);

    host::ServiceModule& module_;
    Handle thread_;
    Handle stop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::vector<CLSID> handlers_;
    std::mutex lock_;
    std::deque<RecordPtr> pending_;
    Handle wake_{CreateSemaphoreW(nullptr, 0, kWakeLimit, nullptr)};
};

}  // namespace velmo::store
