#include "service/handlers/EventHandlerQueue.h"

#include "platform/Activation.h"
#include "platform/Dispatch.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "platform/Variant.h"

#include <algorithm>

namespace velmo::handlers {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

EventHandlerQueue::~EventHandlerQueue() = default;

HRESULT EventHandlerQueue::StoreIncoming(MessageRecord* record)
{
    HRESULT hr = store_.StoreReceived(*record);
    if (FAILED(hr)) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "A received message could not be stored in in/: the device is told, and "
                                           "keeps its copy where it can");
        return hr;
    }
    {
        std::lock_guard lock(lock_);
        pending_.push_back(RecordPtr(record));
    }
    // Past the maximum the message waits until a later wake-up finds it.
    (void)ReleaseSemaphore(wake_.get(), 1, nullptr);
    return S_OK;
}

void EventHandlerQueue::Start()
{
    // What the handlers had not had when the service last stopped (or was
    // killed) goes first, in the order it was received.
    std::vector<RecordPtr> waiting = store_.AwaitingHandlers();
    std::size_t offered = 0;
    {
        std::lock_guard lock(lock_);
        for (auto it = waiting.rbegin(); it != waiting.rend(); ++it) {
            bool queued = std::any_of(pending_.begin(), pending_.end(),
                                      [&](const RecordPtr& p) { return IsEqualGUID(p->Id, (*it)->Id); });
            if (!queued) {
                pending_.push_front(std::move(*it));
                ++offered;
            }
        }
    }
    for (std::size_t i = 0; i < offered; ++i)
        (void)ReleaseSemaphore(wake_.get(), 1, nullptr);  // past the maximum, later wake-ups find them
    if (offered)
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE,
                      "%zu received messages had not been offered to the handlers: they are offered now", offered);
    thread_ = Handle(CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, nullptr));
    if (thread_)
        ResumeThread(thread_.get());
}

void EventHandlerQueue::Stop()
{
    SetEvent(stop_.get());
    if (thread_ && WaitForSingleObject(thread_.get(), DesignWait(10000)) != WAIT_OBJECT_0)
        TerminateThread(thread_.get(), 1);
}

DWORD EventHandlerQueue::ThreadMain(void* self)
{
    auto* queue = static_cast<EventHandlerQueue*>(self);
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // bookkeeping only; cannot fail here
    HANDLE waits[2] = {queue->stop_.get(), queue->wake_.get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        RecordPtr record;
        {
            std::lock_guard lock(queue->lock_);
            if (queue->pending_.empty())
                continue;
            record = std::move(queue->pending_.front());
            queue->pending_.pop_front();
        }
        queue->Offer(record.get());
        queue->store_.Offered(record->Id);
    }
    CoUninitialize();
    return 0;
}

void EventHandlerQueue::Offer(MessageRecord* record)
{
    ComPtr<IVelmo> message = makeMessage_(*record);
    if (!message)
        return;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = message.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    for (const Entry& entry : handlers_) {
        if (!Hears(entry, *record))
            continue;
        ComPtr<IDispatch> handler;
        if (FAILED(CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, handler.ReceiveVoid())))
            continue;
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(u"OnIncoming")};
        if (FAILED(handler->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id)))
            continue;
        Variant result;
        HRESULT hr = handler->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, result.Receive(),
                                     nullptr, nullptr);
        Variant value;
        // Only an answer that reads as the number 0 ends the chain.
        if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&value, &result, 0, VT_I4)) && value.lVal == velmoBreak)
            break;
    }
}

bool EventHandlerQueue::Hears(const Entry& entry, const MessageRecord& record)
{
    if (entry.filter.Empty())
        return true;
    std::string sender = Utf16ToUtf8(record.From.view()), why;
    if (entry.filter.Allows(sender, &why))
        return true;
    std::string handler = GuidToUtf8(entry.clsid);
    if (noted_.size() < kMaxNoted && noted_.insert(handler + " " + sender).second)
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE,
                      "Messages from %s are not offered to the event handler %s: the sender is %s",
                      sender.empty() ? "(no sender)" : sender.c_str(), handler.c_str(), why.c_str());
    return false;
}

std::size_t EventHandlerQueue::PendingCount()
{
    std::lock_guard lock(lock_);
    return pending_.size();
}

}  // namespace velmo::handlers
