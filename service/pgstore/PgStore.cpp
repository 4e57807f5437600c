// The database's changes: accepting, taking, retrying, finishing, storing
// received messages and the recovery at start. The reading side is
// PgListing.cpp.
#include "service/pgstore/PgStore.h"

#include "platform/Guid.h"
#include "platform/Text.h"
#include "service/pgstore/PgRows.h"
#include "service/pgstore/PgSchema.h"

namespace velmo::pgstore {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

// Queued messages Recover reads at a time.
constexpr int kRecoverBatch = 500;
// The channel a new queued message is announced on.
constexpr const char* kAnnounce = "SELECT pg_notify('velmo_queued', '')";

// A mark no other start of a store shares.
std::string NewInstance()
{
    GUID id{};
    (void)CoCreateGuid(&id);  // without randomness the null id: only two such starts look alike
    return GuidToUtf8(id);
}

}  // namespace

PgStore::PgStore(events::EventSink& log, PgSettings settings)
    : log_(log), settings_(std::move(settings)), pool_(log, settings_.connection, settings_.connections),
      instance_(NewInstance())
{
    if (!settings_.journalFolder.empty())
        journal_ = std::make_unique<PgJournal>(settings_.journalFolder);
}

HRESULT PgStore::Open(std::string& why, PgFailure* opened)
{
    PgFailure failure;
    HRESULT hr = E_FAIL;
    {
        PgPool::Borrowed conn = pool_.Borrow();
        hr = UpgradeSchema(*conn, failure);
    }
    pool_.Note(SUCCEEDED(hr), failure);
    if (opened)
        *opened = failure;
    if (FAILED(hr)) {
        why = failure.why;
        return hr;
    }
    open_ = true;
    (void)ReplayJournal();
    return S_OK;
}

bool PgStore::Ready(PgFailure* failure)
{
    if (open_)
        return true;
    std::string why;
    PgFailure opened;
    bool ready = SUCCEEDED(Open(why, &opened));
    if (failure)
        *failure = opened;
    return ready;
}

HRESULT PgStore::Accept(const MessageRecord& record)
{
    PgFailure failure;
    if (!Ready(&failure))
        return failure.connectionLost ? queue::kStoreAway : E_FAIL;
    std::vector<PgParam> values = FieldsOf(record);
    values.push_back(PgParam::Text("queued"));
    values.push_back(PgParam::Text(settings_.host));
    values.push_back(PgParam::Text("false"));
    // One statement: the row and the wake of every host commit together.
    std::string sql = std::string("WITH added AS (") + kInsertRow + " RETURNING id) " + kAnnounce + " FROM added";
    if (pool_.Exec(sql, values, failure))
        return S_OK;
    return failure.connectionLost ? queue::kStoreAway : E_FAIL;
}

void PgStore::Withdraw(const GUID& id)
{
    PgFailure failure;
    if (!Ready() || !pool_.Exec("DELETE FROM velmo_messages WHERE id = $1 AND folder = 'queued'",
                                {PgParam::Text(UuidOf(id))}, failure))
        log_.LogEvent(EVENTLOG_ERROR_TYPE,
                      "The message %s could not be withdrawn from the queue store: it will be sent",
                      GuidToUtf8(id).c_str());
}

bool PgStore::Knows(const GUID& id)
{
    PgFailure failure;
    if (!Ready())
        return false;
    PgResult r = pool_.Exec("SELECT 1 FROM velmo_messages WHERE id = $1 AND folder IN ('queued', 'sent', 'failed')",
                            {PgParam::Text(UuidOf(id))}, failure);
    return r && PQntuples(r.get()) > 0;
}

RecordPtr PgStore::LoadQueued(const GUID& id)
{
    if (!Ready())
        return nullptr;
    PgFailure failure;
    PgResult r = pool_.Exec("SELECT id, file FROM velmo_messages WHERE id = $1 AND folder = 'queued'",
                            {PgParam::Text(UuidOf(id))}, failure);
    if (!r || PQntuples(r.get()) == 0)
        return nullptr;
    return RecordOfRow(r.get(), 0, 0, 1, true);
}

RecordPtr PgStore::RecordOfRow(const PGresult* r, int row, int idColumn, int fileColumn, bool setAside)
{
    RecordPtr record = MessageRecord::New();
    std::optional<std::vector<unsigned char>> bytes = BytesOf(r, row, fileColumn);
    if (bytes && SUCCEEDED(record->Deserialize(bytes->data(), bytes->size())))
        return record;
    std::string id(Cell(r, row, idColumn));  // a uuid as PostgreSQL writes it
    log_.LogEvent(EVENTLOG_ERROR_TYPE, "The queue store's message %s does not read%s", id.c_str(),
                  setAside ? ": it is set aside as bad" : "");
    PgFailure failure;
    if (setAside)
        (void)pool_.Exec("UPDATE velmo_messages SET folder = 'bad', listed = nextval('velmo_listing'), "
                         "lease_host = NULL, lease_until = NULL, updated_at = now() WHERE id = $1 AND "
                         "folder = 'queued'",
                         {PgParam::Text(id)}, failure);  // left queued, it is set aside at the next read
    return nullptr;
}

HRESULT PgStore::Take(const MessageRecord& record, std::u16string_view device)
{
    if (!Ready())
        return E_FAIL;
    PgFailure failure;
    // SKIP LOCKED: a row another host is taking this moment is passed over
    // at once rather than waited for; that host holds it when it commits.
    PgResult r = pool_.Exec(
        "UPDATE velmo_messages SET device = $2, lease_host = $3, lease_until = now() + make_interval(secs => $4), "
        "taken_at = now() WHERE id = (SELECT id FROM velmo_messages WHERE id = $1 AND folder = 'queued' AND "
        "(lease_host IS NULL OR lease_until < now()) FOR UPDATE SKIP LOCKED)",
        {PgParam::Text(UuidOf(record.Id)), PgParam::Text(Utf16ToUtf8(device)), PgParam::Text(settings_.host),
         PgParam::Text(std::to_string(settings_.leaseSeconds))},
        failure);
    if (!r)
        return E_FAIL;
    return RowsChanged(r.get()) == 1 ? S_OK : E_ACCESSDENIED;
}

long PgStore::WriteFields(const MessageRecord& record, std::string_view more, std::vector<PgParam> extra,
                          PgFailure& failure)
{
    if (!Ready(&failure))
        return -1;
    std::vector<PgParam> values = FieldsOf(record);
    for (PgParam& p : extra)
        values.push_back(std::move(p));
    std::string sql = std::string("UPDATE velmo_messages SET ") + kSetEveryField + std::string(more);
    PgResult r = pool_.Exec(sql, values, failure);
    return r ? RowsChanged(r.get()) : -1;
}

HRESULT PgStore::SaveRetry(const MessageRecord& record)
{
    PgFailure failure;
    // Given back for its next attempt: whichever host has room takes it.
    long n = WriteFields(
        record, ", retried_at = now(), lease_host = NULL, lease_until = NULL WHERE id = $1 AND folder = 'queued'", {},
        failure);
    return n == 1 ? S_OK : E_FAIL;
}

void PgStore::Release(const MessageRecord& record)
{
    PgFailure failure;
    if (Ready())
        (void)pool_.Exec("UPDATE velmo_messages SET lease_host = NULL, lease_until = NULL WHERE id = $1 AND "
                         "folder = 'queued' AND lease_host = $2",
                         {PgParam::Text(UuidOf(record.Id)), PgParam::Text(settings_.host)},
                         failure);  // a lease not given back runs out by itself
}

long PgStore::RenewLeases(const std::vector<GUID>& held)
{
    if (held.empty())
        return 0;
    if (!Ready())
        return -1;
    std::string ids = "{";
    for (const GUID& id : held)
        ids += (ids.size() > 1 ? "," : "") + UuidOf(id).substr(1, 36);  // without the braces, in an array
    ids += "}";
    PgFailure failure;
    PgResult r = pool_.Exec(
        "UPDATE velmo_messages SET lease_until = now() + make_interval(secs => $2) WHERE "
        "folder = 'queued' AND lease_host = $1 AND id = ANY($3::uuid[])",
        {PgParam::Text(settings_.host), PgParam::Text(std::to_string(settings_.leaseSeconds)), PgParam::Text(ids)},
        failure);
    return r ? RowsChanged(r.get()) : -1;
}

std::uint64_t PgStore::Unclaimed(std::uint64_t after, std::size_t limit, const std::function<bool(RecordPtr)>& take)
{
    if (!Ready())
        return after;
    PgFailure failure;
    PgResult r = pool_.Exec("SELECT listed, id, file FROM velmo_messages WHERE folder = 'queued' AND listed > $1 "
                            "AND (lease_host IS NULL OR lease_until < now()) ORDER BY listed LIMIT $2",
                            {PgParam::Text(std::to_string(after)), PgParam::Text(std::to_string(limit))}, failure);
    for (int i = 0; r && i < PQntuples(r.get()); ++i) {
        after = static_cast<std::uint64_t>(IntegerOf(Cell(r.get(), i, 0)));
        RecordPtr record = RecordOfRow(r.get(), i, 1, 2, true);
        if (record && !take(record))
            break;
    }
    return after;
}

int PgStore::Recover(const std::function<bool(RecordPtr)>& take)
{
    if (!Ready())
        return 0;
    PgFailure failure;
    // What this host held before it stopped: the devices that held it are gone.
    (void)pool_.Exec("UPDATE velmo_messages SET lease_host = NULL, lease_until = NULL WHERE folder = 'queued' AND "
                     "lease_host = $1",
                     {PgParam::Text(settings_.host)}, failure);  // a failure shows in the next statement too
    int count = 0;
    bool stopped = false;
    for (std::uint64_t after = 0;;) {
        int given = 0;
        std::uint64_t next = Unclaimed(after, kRecoverBatch, [&](RecordPtr record) {
            ++given;
            stopped = !take(record);
            return !stopped;
        });
        count += stopped ? given - 1 : given;
        if (stopped || next == after)
            return count;
        after = next;
    }
}

std::vector<RecordPtr> PgStore::AwaitingHandlers()
{
    std::vector<RecordPtr> waiting;
    if (!Ready())
        return waiting;
    PgFailure failure;
    PgResult r = pool_.Exec("SELECT id, file FROM velmo_messages WHERE awaiting_handlers AND host = $1 "
                            "ORDER BY received, id",
                            {PgParam::Text(settings_.host)}, failure);
    for (int i = 0; r && i < PQntuples(r.get()); ++i)
        if (RecordPtr record = RecordOfRow(r.get(), i, 0, 1, false))
            waiting.push_back(std::move(record));
    return waiting;
}

}  // namespace velmo::pgstore
