// MessageCenter: creates message objects and reports the status of a sent
// message by the identifier Send returned. It keeps no state: every query
// reads the queue store (a message that is queued, sent or failed; a
// received one is not found). None of its methods sets error information.
#pragma once

#include "interfaces/VelmoLib.h"
#include "service/automation/DualObject.h"
#include "service/events/EventSink.h"
#include "service/queue/MessageIntake.h"
#include "service/queue/QueueStore.h"

namespace velmo::automation {

class MessageCenter final : public DualObject<IMessageCenter> {
public:
    // intake queues what its new messages send, store answers the
    // queries, log takes a message that cannot be read; all three must
    // outlive the object.
    MessageCenter(queue::MessageIntake& intake, queue::QueueStore& store, events::EventSink& log);

    HRESULT AddMessageMonitor(BSTR msgId) override;
    // statusText and date are filled only when given (not null and not an
    // omitted VT_ERROR) and the message was found.
    HRESULT QueryMessageStatus(BSTR msgId, VARIANT* statusText, VARIANT* date, LONG* status) override;
    HRESULT NewMessage(IVelmo** newSms) override;
    HRESULT GetMessage(BSTR msgId, IVelmo** sms) override;

protected:
    HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) override;

private:
    queue::MessageIntake& intake_;
    queue::QueueStore& store_;
    events::EventSink& log_;
};

}  // namespace velmo::automation
