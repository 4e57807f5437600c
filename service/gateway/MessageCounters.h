// How many messages the service has queued, sent, failed and received
// since it started, by device, for monitoring (velmo-http's /metrics).
// The counts only grow; they start again at zero with the service, as a
// monitoring system expects of a counter. Safe to use from any thread.
#pragma once

#include "service/events/AuditTrail.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace velmo::gateway {

struct DeviceCounts {
    std::uint64_t sent = 0;
    std::uint64_t failed = 0;
    std::uint64_t received = 0;
};

struct CountsSnapshot {
    std::uint64_t queued = 0;                     // queued messages have no device yet
    std::map<std::string, DeviceCounts> devices;  // by device name; "" for failures no device took
};

class MessageCounters {
public:
    void Count(const events::AuditEntry& event);
    CountsSnapshot Read() const;

private:
    mutable std::mutex lock_;
    CountsSnapshot counts_;
};

}  // namespace velmo::gateway
