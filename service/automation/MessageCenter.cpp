#include "service/automation/MessageCenter.h"

#include "platform/SystemTime.h"
#include "service/automation/NewSms.h"
#include "messagefile/StatusWords.h"

#include <new>

namespace velmo::automation {

namespace {
bool Given(const VARIANT* v) { return v && v->vt != VT_ERROR; }
}  // namespace

MessageCenter::MessageCenter(queue::MessageIntake& intake, queue::QueueStore& store, events::EventSink& log)
    : DualObject(velmolib::kIMessageCenter), intake_(intake), store_(store), log_(log)
{}

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
    *newSms = new (std::nothrow) NewSms(intake_);
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
    std::optional<queue::Found> found = store_.Find(id);
    if (found && found->folder != queue::Folder::Queued && found->folder != queue::Folder::Sent &&
        found->folder != queue::Folder::Failed)
        found.reset();
    if (found && !found->record)
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", found->location.c_str());
    if (!found || !found->record) {
        *status = NOT_FOUND;
        return hr;
    }
    const messagefile::MessageRecord* record = found->record.get();
    *status = record->Status;
    if (Given(statusText)) {
        VariantClear(statusText);
        Variant text = Variant::FromBstr(record->StatusText.view());
        text.Detach(statusText);
    }
    if (Given(date)) {
        VariantClear(date);
        const SYSTEMTIME& when = messagefile::MessageDate(*record);
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
