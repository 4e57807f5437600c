// NewSMS: a short message as clients, scripts and event handlers see it.
//
// It holds a recipient, a text and, for received messages, a sender and a
// date; Send queues a new message with an identifier of its own each time
// (the object keeps its fields and can be sent again); Reply and Forward
// work only on objects that carry a sender. The object's lock guards its
// fields and is not held while the dispatcher works. Errors are error
// information with the source "Velmo.NewSMS" and DISP_E_EXCEPTION.
#pragma once

#include "interfaces/VelmoLib.h"
#include "messagefile/MessageRules.h"
#include "platform/Bstr.h"
#include "platform/Variant.h"
#include "service/automation/DualObject.h"
#include "service/queue/MessageIntake.h"

namespace velmo::automation {

class NewSms final : public DualObject<IVelmo, IVelmoReceived> {
public:
    // The longest text a client may set or send, in UTF-16 units; a longer
    // one is refused and the object keeps its text. A text
    // with a NUL and a recipient that is no phone number are refused too
    // (messagefile/MessageRules.h), and Send sends the recipient without
    // its separators.
    static constexpr UINT kMaxBody = messagefile::kMaxTextUnits;

    // intake queues what Send sends; it must outlive the object.
    explicit NewSms(queue::MessageIntake& intake);

    // A received message for the event handlers: From, Body and the
    // reception time as Date, and its stored id for IVelmoReceived; To
    // stays null. Null when out of memory.
    static NewSms* ForReceived(queue::MessageIntake& intake, const GUID& id, const Bstr& from, const Bstr& body,
                               DATE received);

    HRESULT get_To(BSTR* to) override;
    HRESULT put_To(BSTR to) override;
    HRESULT get_From(BSTR* from) override;
    HRESULT get_Body(BSTR* body) override;
    HRESULT put_Body(BSTR body) override;
    HRESULT get_Date(VARIANT* date) override;
    HRESULT Send(VARIANT to, VARIANT body, VARIANT* msgId) override;
    HRESULT Forward(IVelmo** newSms) override;
    HRESULT Reply(IVelmo** newSms) override;
    HRESULT get_Id(BSTR* id) override;

protected:
    HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) override;

private:
    HRESULT Derived(bool reply, IVelmo** out);
    queue::MessageIntake& intake_;
    Bstr from_, to_, body_;
    Variant date_;
    Bstr receivedId_;  // empty unless received
};

}  // namespace velmo::automation
