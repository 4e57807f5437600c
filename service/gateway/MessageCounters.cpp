#include "service/gateway/MessageCounters.h"

namespace velmo::gateway {

void MessageCounters::Count(const events::AuditEntry& e)
{
    std::lock_guard lock(lock_);
    switch (e.kind) {
    case events::AuditKind::Queued: ++counts_.queued; break;
    case events::AuditKind::Sent: ++counts_.devices[e.device].sent; break;
    case events::AuditKind::Failed: ++counts_.devices[e.device].failed; break;
    case events::AuditKind::Received: ++counts_.devices[e.device].received; break;
    case events::AuditKind::Delivered:
        ++counts_.devices[e.device].delivered;
        counts_.deliveryTimes.Add(e.waited);
        break;
    case events::AuditKind::Undelivered: ++counts_.devices[e.device].undelivered; break;
    }
}

void TimeHistogram::Add(double seconds)
{
    for (std::size_t i = 0; i < kBounds.size(); ++i)
        if (seconds <= kBounds[i])
            ++buckets[i];
    ++count;
    sum += seconds;
}

CountsSnapshot MessageCounters::Read() const
{
    std::lock_guard lock(lock_);
    return counts_;
}

}  // namespace velmo::gateway
