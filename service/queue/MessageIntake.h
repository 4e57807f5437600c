// The way new outgoing messages come in: what the automation objects, the
// gateway and event handlers' replies call to queue a message.
#pragma once

#include "platform/Bstr.h"
#include "platform/Guid.h"

namespace velmo::queue {

class MessageIntake {
public:
    virtual ~MessageIntake() = default;

    // Queues a message to `to` with the text body under a new id (written
    // to id when not null). S_OK once it is stored; E_FAIL when the queue
    // takes no message now (not started, stopping, or full), and the
    // store's failure when it could not be stored.
    virtual HRESULT QueueMessage(const Bstr& to, const Bstr& body, GUID* id) = 0;
};

}  // namespace velmo::queue
