// MessageCenter: creates message objects and reports the status of a sent
// message by the identifier Send returned. It keeps no state: every query
// reads the message's file from out/, out/sent/ or out/failed/. None of its
// methods sets error information.
#pragma once

#include "interfaces/VelmoLib.h"
#include "service/automation/DualObject.h"

namespace velmo::host {
class ServiceModule;
}

namespace velmo::automation {

class MessageCenter final : public DualObject<IMessageCenter> {
public:
    MessageCenter();
    explicit MessageCenter(host::ServiceModule& module);

    HRESULT AddMessageMonitor(BSTR msgId) override;
    // statusText and date are filled only when given (not null and not an
    // omitted VT_ERROR) and the message was found.
    HRESULT QueryMessageStatus(BSTR msgId, VARIANT* statusText, VARIANT* date, LONG* status) override;
    HRESULT NewMessage(IVelmo** newSms) override;
    HRESULT GetMessage(BSTR msgId, IVelmo** sms) override;

protected:
    HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) override;

private:
    host::ServiceModule& module_;
};

}  // namespace velmo::automation
