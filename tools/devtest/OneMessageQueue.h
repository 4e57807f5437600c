// The device's queue during one Send of devtest: it hands over exactly one
// message (the To and Body typed into the dialog) and fails every later
// request, so a device that keeps its contract sends it and leaves Run.
// It never waits; results are accepted and dropped, received messages
// refused with E_NOTIMPL (a device then keeps them for the service).
// Every WaitForMsg is written to the log.
#pragma once

#include "interfaces/VelmoDevice.h"
#include "platform/Bstr.h"

#include <atomic>
#include <functional>
#include <string>

namespace velmo::devtest {

class OneMessageQueue final : public IVelmo_Q {
public:
    using Log = std::function<void(const std::string&)>;
    OneMessageQueue(std::u16string to, std::u16string body, Log log);

    HRESULT QueryInterface(REFIID iid, void** out) override;
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override { return --refs_; }  // the tool owns the object
    HRESULT WaitForMsg(HANDLE event, LONG* reason, GUID* msgId, BSTR* to, BSTR* body) override;
    HRESULT ReportMsgResult(GUID msgId, LONG reserved, LONG result, BSTR statusText) override;
    HRESULT ReportIncomingMsg(LONG reserved, BSTR from, BSTR body) override;

    int handedOut() const { return handed_; }

private:
    std::atomic<ULONG> refs_{1};
    int handed_ = 0;
    std::u16string to_, body_;
    Log log_;
};

}  // namespace velmo::devtest
