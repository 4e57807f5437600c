// The way new outgoing messages come in: what the automation objects, the
// gateway and event handlers' replies call to queue a message.
#pragma once

#include "platform/Bstr.h"
#include "platform/Guid.h"

#include <cstdint>

namespace velmo::queue {

class MessageIntake {
public:
    virtual ~MessageIntake() = default;

    // Queues a message to `to` with the text body under a new id (written
    // to id when not null). S_OK once it is stored; E_FAIL when the queue
    // takes no message now (not started, stopping, or full), and the
    // store's failure when it could not be stored.
    virtual HRESULT QueueMessage(const Bstr& to, const Bstr& body, GUID* id) = 0;
    // The same for a message that may wait in the queue at most
    // expireAfter seconds (0: only the queue's own limit).
    virtual HRESULT QueueExpiring(const Bstr& to, const Bstr& body, std::uint32_t expireAfter, GUID* id) = 0;
};

}  // namespace velmo::queue
