#include "tools/devtest/OneMessageQueue.h"

#include "platform/Guid.h"

#include <cstdio>

namespace velmo::devtest {

OneMessageQueue::OneMessageQueue(std::u16string to, std::u16string body, Log log)
    : to_(std::move(to)), body_(std::move(body)), log_(std::move(log))
{}

HRESULT OneMessageQueue::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IVelmo_Q) {
        *out = static_cast<IVelmo_Q*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOTIMPL;  // as the service's own queue answers
}

HRESULT OneMessageQueue::WaitForMsg(HANDLE, LONG* reason, GUID* msgId, BSTR* to, BSTR* body)
{
    log_("Device callbacks IVelmo_Q::WaitForMsg()\r\n");
    HRESULT hr = E_FAIL;
    if (handed_ == 0 && reason && msgId && to && body) {
        *reason = WAKE_MESSAGE;
        (void)CoCreateGuid(msgId);  // cannot fail: the random source is the kernel's
        *to = SysAllocString(to_.c_str());
        *body = SysAllocString(body_.c_str());
        ++handed_;
        hr = S_OK;
    }
    char line[64];
    std::snprintf(line, sizeof line, "IVelmo_Q::WaitForMsg() returns 0x%08X\r\n", static_cast<unsigned>(hr));
    log_(line);
    return hr;
}

HRESULT OneMessageQueue::ReportMsgResult(GUID, LONG, LONG, BSTR) { return S_OK; }

// Nothing here would keep a received message, so none is taken: the device
// leaves it where it is (on the SIM) for the service.
HRESULT OneMessageQueue::ReportIncomingMsg(LONG, BSTR, BSTR) { return E_NOTIMPL; }

}  // namespace velmo::devtest
