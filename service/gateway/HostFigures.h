// What one gateway host tells of itself: its devices as people see them
// and its message counts since it started. A host whose queue is shared
// reports its figures to the store, and every host's gateway shows them
// beside its own, each labelled with the host's name (HostBoard.h).
#pragma once

#include "platform/BusData.h"
#include "service/devices/DeviceTable.h"
#include "service/gateway/MessageCounters.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmo::gateway {

// One device as DeviceDetails shows it.
struct DeviceFigures {
    std::int32_t id = 0;  // 0 for a removed device
    std::string name;
    std::string state;         // starting, running, restarting, waiting, removed; lost for a silent host's
    std::int32_t signal = -1;  // +CSQ 0..31; -1 when not known
    std::string registration;  // "" when not known
    std::string op;            // the operator's name
    std::string lastError;
    std::string nextTry;  // ISO 8601, UTC; "" when no start is due
    std::int32_t failedStarts = 0;
    // The "name=value" lines of the modem's identity and set-up
    // (IVelmoDeviceInfo), as the device gave them.
    std::string info;
};

struct HostFigures {
    std::string host;
    std::int64_t reported = 0;  // seconds since 1970 of the report; 0 for the figures of this host, now
    CountsSnapshot counts;
    std::vector<DeviceFigures> devices;  // in id order, then the removed ones
};

// The devices of this host now, as people see them.
std::vector<DeviceFigures> DeviceFiguresOf(devices::DeviceTable& devices);

// A device's DeviceDetails entry, sorted by name: the figures, and the info
// lines whose names are plain ([a-z0-9]) and not taken already. With a
// host ("" leaves it out), the entry names it.
BusData::Entries DetailEntries(const DeviceFigures& device, const std::string& host);

}  // namespace velmo::gateway
