// Where the hosts that share one queue find each other's figures
// (HostFigures.h): each host reports its own now and then, and the gateway
// shows the others' beside its own.
#pragma once

#include "service/gateway/HostFigures.h"

#include <string>
#include <vector>

namespace velmo::gateway {

class HostBoard {
public:
    virtual ~HostBoard() = default;
    // This host's name on the board; "" when the queue is not shared, and
    // then the board holds no other host.
    virtual std::string HostName() = 0;
    // The last report of every other host, in name order: a host that has
    // missed six reports in a row (a minute) shows its devices as "lost",
    // one silent for a day is left out. Empty when there are none, the
    // queue is not shared, or the store cannot be reached.
    virtual std::vector<HostFigures> OtherHosts() = 0;
};

}  // namespace velmo::gateway
