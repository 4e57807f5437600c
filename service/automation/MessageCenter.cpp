#include "service/automation/MessageCenter.h"

#include "platform/SystemTime.h"
#include "service/automation/NewSms.h"
#include "service/host/ServiceModule.h"

#include <new>

namespace velmo::automation {

namespace {
bool Given(const VARIANT* v) { return v && v->vt != VT_ERROR; }
}  // namespace

MessageCenter::MessageCenter() : MessageCenter(host::TheModule()) {}

MessageCenter::MessageCenter(host::ServiceModule& module) : DualObject(velmolib::kIMessageCenter), module_(module) {}

HRESULT MessageCenter::AddMessageMonitor(BSTR) { return E_NOTIMPL; }

HRESULT MessageCenter::GetMessage(BSTR, IVelmo** sms)
{
    if (sms)
        *sms = nullptr;
    return E_NOTIMPL;
}

HRESULT MessageCenter::NewMessage(IVelmo** newSms)
{
    if (!newSms)
        return E_POINTER;
    *newSms = new (std::nothrow) NewSms(module_);
    return *newSms ? S_OK : E_OUTOFMEMORY;
}

HRESULT MessageCenter::QueryMessageStatus(BSTR msgId, VARIANT* statusText, VARIANT* date, LONG* status)
{
    if (!status)
        return E_POINTER;
    GUID id{};
    HRESULT hr = CLSIDFromString(msgId, &id);
    if (FAILED(hr))
        return hr;
    store::RecordPtr record = module_.dispatcher.FindMessage(id);
    if (!record) {
        *status = NOT_FOUND;
        return hr;
    }
    *status = record->Status;
    if (Given(statusText)) {
        VariantClear(statusText);
        Variant text = Variant::FromBstr(record->StatusText.view());
        text.Detach(statusText);
    }
    if (Given(date)) {
        VariantClear(date);
        const SYSTEMTIME& when =
            record->Status == SENT || record->Status == FAILED ? record->Completed : record->Created;
        DATE value = 0;
        SystemTimeToVariantTime(&when, &value);
        Variant v = Variant::FromDate(value);
        v.Detach(date);
    }
    return S_OK;
}

HRESULT MessageCenter::Call(const DispMember& member, std::span<Variant> args, VARIANT* result)
{
    switch (member.dispid) {
    case 1: return AddMessageMonitor(args[0].bstrVal);
    case 2: {
        LONG status = NOT_FOUND;
        HRESULT hr = QueryMessageStatus(args[0].bstrVal, OutSlot(args[1]), OutSlot(args[2]), &status);
        if (SUCCEEDED(hr) && result) {
            Variant v = Variant::FromI4(status);
            v.Detach(result);
        }
        return hr;
    }
    case 3:
    case 4: {
        IVelmo* sms = nullptr;
        HRESULT hr = member.dispid == 3 ? NewMessage(&sms) : GetMessage(args[0].bstrVal, &sms);
        return ReturnObject(hr, sms, result);
    }
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

}  // namespace velmo::automation
