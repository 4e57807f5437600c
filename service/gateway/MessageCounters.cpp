#include "service/gateway/MessageCounters.h"

namespace velmo::gateway {

void MessageCounters::Count(const store::AuditEntry& e)
{
    std::lock_guard lock(lock_);
    switch (e.kind) {
    case store::AuditKind::Queued: ++counts_.queued; break;
    case store::AuditKind::Sent: ++counts_.devices[e.device].sent; break;
    case store::AuditKind::Failed: ++counts_.devices[e.device].failed; break;
    case store::AuditKind::Received: ++counts_.devices[e.device].received; break;
    }
}

CountsSnapshot MessageCounters::Read() const
{
    std::lock_guard lock(lock_);
    return counts_;
}

}  // namespace velmo::gateway
