#include "service/queue/DeliveryRecords.h"

#include "interfaces/VelmoDevice.h"
#include "messagefile/Duration.h"
#include "platform/Text.h"
#include "service/events/MessageEvents.h"
#include "service/queue/StatusText.h"

namespace velmo::queue {

HRESULT DeliveryRecords::Record(const std::string& device, const GUID& id, LONG state, std::u16string_view statusText,
                                const SYSTEMTIME* accepted, const SYSTEMTIME* discharged)
{
    const bool final = state == DELIVERY_DONE || state == DELIVERY_FAILED;
    if (!final && state != DELIVERY_PENDING)
        return E_INVALIDARG;
    const std::string name = GuidToUtf8(id);
    std::optional<Found> found = store_.Find(id);
    if (found && !found->record)
        return FAILED(found->readError) ? found->readError : E_FAIL;  // read again when the device offers it again
    if (found && found->folder == Folder::Queued)
        return E_PENDING;  // its report counts once the rest of it has gone
    if (!found || found->folder != Folder::Sent) {
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE,
                      "Device %s reports on message %s, which is not among the sent messages (%s): the report is "
                      "dropped",
                      device.c_str(), name.c_str(), found ? messagefile::NameOf(found->folder).name : "not known");
        return S_FALSE;
    }
    messagefile::MessageRecord& record = *found->record;
    if (record.Status != SENT)
        return S_FALSE;  // final already: a report given twice
    if (record.StatusText.IsEmpty() && statusText.starts_with(u"\r\n"))
        statusText.remove_prefix(2);  // the first line of the text needs no line end before it
    if (!statusText.empty())
        AppendStatusText(record.StatusText, statusText);
    if (final) {
        record.Status = state == DELIVERY_DONE ? DELIVERED : UNDELIVERED;
        record.Accepted = accepted ? *accepted : SYSTEMTIME{};
        record.Discharged = discharged ? *discharged : SYSTEMTIME{};
    }
    if (HRESULT hr = store_.UpdateSent(record); FAILED(hr))
        return hr;
    if (final) {
        SYSTEMTIME now{};
        GetSystemTime(&now);
        events::AuditEntry entry{record.Status == DELIVERED ? events::AuditKind::Delivered
                                                            : events::AuditKind::Undelivered,
                                 id,
                                 Utf16ToUtf8(record.To.str()),
                                 {},
                                 device,
                                 Utf16ToUtf8(record.StatusText.str())};
        entry.waited = messagefile::SecondsBetween(record.Created, record.Discharged.wYear ? record.Discharged : now);
        events::Announce(entry);
    }
    return S_OK;
}

}  // namespace velmo::queue
