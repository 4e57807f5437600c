// How many messages the service has queued, sent, failed, received, seen
// delivered and undelivered since it started, by device, and how long
// deliveries took, for monitoring (velmo-http's /metrics).
// The counts only grow; they start again at zero with the service, as a
// monitoring system expects of a counter. Safe to use from any thread.
#pragma once

#include "service/events/AuditTrail.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace velmo::gateway {

struct DeviceCounts {
    std::uint64_t sent = 0;
    std::uint64_t failed = 0;
    std::uint64_t received = 0;
    std::uint64_t delivered = 0;
    std::uint64_t undelivered = 0;
};

// How long delivered messages took from queued to delivered, as a
// monitoring histogram: buckets[i] counts the times at most kBounds[i]
// seconds (cumulative, as Prometheus keeps them).
struct TimeHistogram {
    static constexpr std::array<double, 10> kBounds = {5, 10, 30, 60, 120, 300, 900, 3600, 21600, 86400};
    std::array<std::uint64_t, kBounds.size()> buckets{};
    std::uint64_t count = 0;
    double sum = 0;
    void Add(double seconds);
};

struct CountsSnapshot {
    std::uint64_t queued = 0;                     // queued messages have no device yet
    std::map<std::string, DeviceCounts> devices;  // by device name; "" for failures no device took
    TimeHistogram deliveryTimes;
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
