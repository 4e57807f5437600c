// The event-handler queue: received messages are stored and queued
// here for the handlers, whose classes it keeps in configuration order.
// One thread offers each message, oldest first, to the chain: for every
// class a new handler object is created in process, its "OnIncoming" is
// called with a NewSMS object (From, Body, Date; To null), and the chain
// ends at the first answer whose 32-bit value is velmoBreak. Handlers that
// cannot be created, lack "OnIncoming" or fail are passed over, and so is
// a handler whose sender filter keeps the sender out (said once per
// handler and sender, for the first kMaxNoted of them). The lock
// guards the pending queue only and is never held while a file is written
// or a handler runs.
//
// Offers are durable: the store records each received message as waiting
// for the handlers when it stores it, the queue tells the store once the
// chain has had it, and Start queues first what still waits from before
// (a stop or a kill in between): every stored message reaches the chain at
// least once, and a message whose chain was cut off is offered again.
#pragma once

#include "interfaces/VelmoLib.h"
#include "messagefile/MessageRecord.h"
#include "platform/Guid.h"
#include "service/devices/DeviceReports.h"
#include "service/events/EventSink.h"
#include "service/handlers/SenderFilter.h"
#include "service/queue/QueueStore.h"

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace velmo::handlers {

class EventHandlerQueue final : public devices::IncomingMessages {
public:
    static constexpr LONG kWakeLimit = 8192;

    // The message object a handler is given for a stored message; null when
    // none can be made (the handlers are passed over then).
    using MakeMessage = std::function<ComPtr<IVelmo>(const messagefile::MessageRecord& record)>;

    // log takes the queue's events, store keeps the received messages;
    // both must outlive the queue.
    EventHandlerQueue(events::EventSink& log, queue::QueueStore& store, MakeMessage makeMessage)
        : log_(log), store_(store), makeMessage_(std::move(makeMessage))
    {}
    ~EventHandlerQueue();
    EventHandlerQueue(const EventHandlerQueue&) = delete;
    EventHandlerQueue& operator=(const EventHandlerQueue&) = delete;

    static constexpr std::size_t kMaxNoted = 1024;

    // One handler of the chain: its class and who may talk to it.
    struct Entry {
        CLSID clsid;
        SenderFilter filter;
    };

    // Appends a handler class; called before the handler thread runs.
    void AddHandler(const CLSID& clsid, SenderFilter filter = {}) { handlers_.push_back({clsid, std::move(filter)}); }
    const std::vector<Entry>& Handlers() const { return handlers_; }

    // Stores the record as received and queues a reference to it; the
    // store's failure when it cannot be stored (nothing is queued then).
    HRESULT StoreIncoming(messagefile::MessageRecord* record) override;
    std::size_t PendingCount();

    // Queues the stored messages that still wait for the handlers, ahead of
    // any stored since, then starts the handler thread (created suspended,
    // then resumed).
    void Start();
    // Signals the stop event and waits up to 10 s, then abandons the thread.
    void Stop();

private:
    static DWORD ThreadMain(void* self);
    void Offer(messagefile::MessageRecord* record);
    // Whether the entry hears the record's sender; says once why not.
    bool Hears(const Entry& entry, const messagefile::MessageRecord& record);

    events::EventSink& log_;
    queue::QueueStore& store_;
    MakeMessage makeMessage_;
    Handle thread_;
    Handle stop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::vector<Entry> handlers_;
    std::set<std::string> noted_;  // "{CLSID} sender" already said to be kept out; the handler thread's
    std::mutex lock_;
    std::deque<messagefile::RecordPtr> pending_;
    Handle wake_{CreateSemaphoreW(nullptr, 0, kWakeLimit, nullptr)};
};

}  // namespace velmo::handlers
