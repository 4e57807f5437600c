#include "service/store/EventHandlerQueue.h"

#include "service/host/ServiceModule.h"
#include "service/store/QueueFolders.h"

namespace velmo::store {

EventHandlerQueue::~EventHandlerQueue()
{
    for (MessageRecord* r : pending_)
        r->Release();
}

HRESULT EventHandlerQueue::StoreIncoming(MessageRecord* record)
{
    HRESULT hr = record->SaveToFile(module_.rootFolder + kInFolder + MessageFileName(record->Id));
    if (FAILED(hr))
        return hr;
    record->AddRef();
    {
        std::lock_guard lock(lock_);
        pending_.push_back(record);
    }
    // Past the maximum the message waits until a later wake-up finds it.
    (void)ReleaseSemaphore(wake_.get(), 1, nullptr);
    return S_OK;
}

std::size_t EventHandlerQueue::PendingCount()
{
    std::lock_guard lock(lock_);
    return pending_.size();
}

} // namespace velmo::store
