// The writes that must outlive an outage of the database: a message's
// outcome, its delivery report, a received message and the handlers'
// having had it. While the database is away each is kept in the local
// journal (PgJournal.h) and counts as written; ReplayJournal writes the
// journal to the database once it answers, each entry once.
#include "service/pgstore/PgStore.h"

#include "platform/Text.h"
#include "service/pgstore/PgRows.h"

namespace velmo::pgstore {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

HRESULT PgStore::KeepOrFail(const char* kind, const GUID& id, const std::vector<unsigned char>& bytes,
                            const PgFailure& failure, HRESULT hr)
{
    if (SUCCEEDED(hr) || !failure.connectionLost || !journal_)
        return hr;
    if (!journal_->Add(kind, GuidToUtf8(id), bytes)) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE,
                      "The message %s could not be kept in the local journal while the queue store is away",
                      GuidToUtf8(id).c_str());
        return hr;
    }
    if (!keeping_.exchange(true))
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "Outcomes and received messages are kept in the local journal until the queue store answers");
    return S_OK;
}

HRESULT PgStore::FinishRow(const MessageRecord& record, PgFailure& failure)
{
    long n = WriteFields(record,
                         ", folder = $15, listed = nextval('velmo_listing'), finished_at = now(), lease_host = NULL, "
                         "lease_until = NULL WHERE id = $1 AND folder = 'queued'",
                         {PgParam::Text(record.Status == SENT ? "sent" : "failed")}, failure);
    if (n < 0)
        return E_FAIL;
    if (n == 0) {
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "The message %s is no longer queued (another host finished it after this host's lease ran "
                      "out): its outcome stands as that host wrote it",
                      GuidToUtf8(record.Id).c_str());
        return S_FALSE;
    }
    return S_OK;
}

HRESULT PgStore::Finish(const MessageRecord& record)
{
    PgFailure failure;
    HRESULT hr = FinishRow(record, failure);
    return KeepOrFail("finish", record.Id, record.Serialize(), failure, hr);
}

HRESULT PgStore::UpdateSentRow(const MessageRecord& record, PgFailure& failure)
{
    long n = WriteFields(record, " WHERE id = $1 AND folder = 'sent'", {}, failure);
    if (n == 0)
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "The message %s is not among the sent messages: its report is not kept",
                      GuidToUtf8(record.Id).c_str());
    return n == 1 ? S_OK : E_FAIL;
}

HRESULT PgStore::UpdateSent(const MessageRecord& record)
{
    PgFailure failure;
    HRESULT hr = UpdateSentRow(record, failure);
    return KeepOrFail("update", record.Id, record.Serialize(), failure, hr);
}

HRESULT PgStore::InsertReceived(const MessageRecord& record, bool awaiting, PgFailure& failure)
{
    if (!Ready(&failure))
        return E_FAIL;
    std::vector<PgParam> values = FieldsOf(record);
    values.push_back(PgParam::Text("received"));
    values.push_back(PgParam::Text(settings_.host));
    values.push_back(PgParam::Text(awaiting ? "true" : "false"));
    // Written again from the journal after a crash, the row stands once.
    return pool_.Exec(std::string(kInsertRow) + " ON CONFLICT (id) DO NOTHING", values, failure) ? S_OK : E_FAIL;
}

HRESULT PgStore::StoreReceived(const MessageRecord& record)
{
    PgFailure failure;
    HRESULT hr = InsertReceived(record, true, failure);
    return KeepOrFail("received", record.Id, record.Serialize(), failure, hr);
}

HRESULT PgStore::MarkOffered(const GUID& id, PgFailure& failure)
{
    if (!Ready(&failure))
        return E_FAIL;
    return pool_.Exec("UPDATE velmo_messages SET awaiting_handlers = false, updated_at = now() WHERE id = $1",
                      {PgParam::Text(UuidOf(id))}, failure)
               ? S_OK
               : E_FAIL;
}

void PgStore::Offered(const GUID& id)
{
    PgFailure failure;
    HRESULT hr = MarkOffered(id, failure);
    if (FAILED(KeepOrFail("offered", id, {}, failure, hr)))
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "The message %s cannot be marked as offered: the handlers are offered it again at the next "
                      "start",
                      GuidToUtf8(id).c_str());
}

int PgStore::ReplayJournal()
{
    if (!journal_ || !journal_->Pending() || !open_)
        return 0;
    std::unique_lock<std::mutex> one(replaying_, std::try_to_lock);
    if (!one)
        return 0;  // another thread writes it now
    int written = 0;
    for (const PgJournal::Entry& entry : journal_->Entries()) {
        PgFailure failure;
        HRESULT hr = ReplayEntry(entry, failure);
        if (FAILED(hr) && failure.connectionLost)
            break;                // away again: the rest waits
        journal_->Remove(entry);  // written, or refused for good (logged with the statement)
        ++written;
    }
    if (written) {
        keeping_ = false;
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE, "%d entries of the local journal are written to the queue store",
                      written);
    }
    return written;
}

HRESULT PgStore::ReplayEntry(const PgJournal::Entry& entry, PgFailure& failure)
{
    if (entry.kind == "offered") {
        std::size_t from = entry.name.find('-'), to = entry.name.rfind('.');
        std::optional<GUID> id = ParseGuid(entry.name.substr(from + 1, to - from - 1));
        return id ? MarkOffered(*id, failure) : E_FAIL;
    }
    RecordPtr record = MessageRecord::New();
    if (FAILED(record->Deserialize(entry.bytes.data(), entry.bytes.size()))) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "The local journal's entry %s does not read: it is dropped",
                      EscapeControls(entry.name).c_str());
        return E_FAIL;
    }
    if (entry.kind == "finish")
        return FinishRow(*record, failure);
    if (entry.kind == "update")
        return UpdateSentRow(*record, failure);
    return InsertReceived(*record, true, failure);
}

}  // namespace velmo::pgstore
