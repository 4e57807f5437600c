#include "service/events/MessageEvents.h"

#include <memory>
#include <mutex>

namespace velmo::events {

namespace {

std::mutex gListenerLock;
// Shared so an announcement in progress keeps the listener it started with.
std::shared_ptr<const MessageListener> gListener;

}  // namespace

void SetMessageListener(MessageListener listener)
{
    auto next = listener ? std::make_shared<const MessageListener>(std::move(listener)) : nullptr;
    std::lock_guard lock(gListenerLock);
    gListener = std::move(next);
}

void Announce(const AuditEntry& entry)
{
    Audit(entry);
    std::shared_ptr<const MessageListener> listener;
    {
        std::lock_guard lock(gListenerLock);
        listener = gListener;
    }
    if (listener)
        (*listener)(entry);
}

}  // namespace velmo::events
