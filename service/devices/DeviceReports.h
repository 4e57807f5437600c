// What a device host reports to the rest of the service, each through its
// own narrow interface: the outcome of a message it was handed (to the
// dispatcher) and a message its device received (to the event-handler
// queue). Both are called on the device's thread.
#pragma once

#include "messagefile/MessageRecord.h"

#include <string>

namespace velmo::devices {

class MessageOutcomes {
public:
    virtual ~MessageOutcomes() = default;
    // The device named device reports the end of one attempt at the
    // message id: SEND_OK, SEND_RETRY or SEND_FAILED, with a status text to
    // append (null for none). Never fails: what cannot be recorded now is
    // recorded at the next start.
    virtual void CompleteMessage(const std::u16string& device, const GUID& id, LONG result, BSTR statusText) = 0;
    // Whether the message may still go to a device now: "" when it may,
    // else the status text it fails with (it waited in the queue longer
    // than its expiry). The caller then reports it failed with that text.
    virtual std::u16string ExpiryOf(const messagefile::MessageRecord& record) = 0;
    // The network's report on a message the device named device sent
    // (IVelmo_Q3::ReportDelivery, whose results it gives).
    virtual HRESULT RecordDelivery(const std::u16string& device, const GUID& id, LONG state, BSTR statusText,
                                   const SYSTEMTIME* accepted, const SYSTEMTIME* discharged) = 0;
};

class IncomingMessages {
public:
    virtual ~IncomingMessages() = default;
    // Stores a received message and offers it to the handlers; the
    // store's failure when it could not be stored (the device keeps its
    // copy then).
    virtual HRESULT StoreIncoming(messagefile::MessageRecord* record) = 0;
};

}  // namespace velmo::devices
