// The event-handler queue: the classes of the handlers that are offered
// every received message, in the order of the configuration.
#pragma once

#include "platform/Guid.h"

#include <vector>

namespace velmo::store {

class EventHandlerQueue {
public:
    // Appends a handler class; called before the handler thread runs.
    void AddHandler(const CLSID& clsid) { handlers_.push_back(clsid); }
    const std::vector<CLSID>& Handlers() const { return handlers_; }

private:
    std::vector<CLSID> handlers_;
};

} // namespace velmo::store
