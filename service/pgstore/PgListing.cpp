// The database's reading side: one message found by its id, a folder
// listed a page at a time, the queue counted over every host.
#include "service/pgstore/PgStore.h"

#include "service/pgstore/PgRows.h"

#include <algorithm>
#include <cctype>

namespace velmo::pgstore {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

// A listing cursor is the position of the last row given, in decimal.
bool IsCursor(std::string_view cursor)
{
    return !cursor.empty() && cursor.size() <= 18 &&  // within a bigint
           std::all_of(cursor.begin(), cursor.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The id as the folders name a bad entry: "{" upper-case uuid "}".
std::string BadName(std::string_view uuid)
{
    std::string name = "{";
    for (char c : uuid)
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name + "}";
}

// What a read answers while the database cannot tell.
queue::Found AwayFound()
{
    queue::Found away;
    away.readError = queue::kStoreAway;
    away.location = "velmo_messages (the database does not answer)";
    return away;
}

}  // namespace

std::optional<queue::Found> PgStore::Find(const GUID& id)
{
    PgFailure failure;
    if (!Ready(&failure))
        return AwayFound();
    PgResult r =
        pool_.Exec("SELECT id, file, folder FROM velmo_messages WHERE id = $1", {PgParam::Text(UuidOf(id))}, failure);
    if (!r)
        return AwayFound();
    if (PQntuples(r.get()) == 0)
        return std::nullopt;
    queue::Found found;
    found.folder = FolderOfColumn(Cell(r.get(), 0, 2)).folder;
    found.location = "velmo_messages " + std::string(Cell(r.get(), 0, 0));
    found.record = RecordOfRow(r.get(), 0, 0, 1, false);
    if (!found.record)
        found.readError = E_FAIL;
    return found;
}

std::optional<queue::Page> PgStore::List(messagefile::Folder folder, std::size_t limit, std::string_view cursor)
{
    if (!cursor.empty() && !IsCursor(cursor))
        return std::nullopt;
    limit = limit == 0 ? queue::kDefaultPage : std::min(limit, queue::kMostPerPage);
    queue::Page page;
    PgFailure failure;
    if (!Ready(&failure)) {
        page.error = queue::kStoreAway;
        return page;
    }
    PgResult r = pool_.Exec("SELECT listed, id, file FROM velmo_messages WHERE folder = $1 AND listed < $2 "
                            "ORDER BY listed DESC LIMIT $3",
                            {PgParam::Text(FolderColumn(folder)),
                             PgParam::Text(cursor.empty() ? "9223372036854775807" : std::string(cursor)),
                             PgParam::Text(std::to_string(limit + 1))},
                            failure);
    if (!r) {
        page.error = queue::kStoreAway;
        return page;
    }
    int rows = PQntuples(r.get());
    for (int i = 0; i < rows && page.messages.size() < limit; ++i) {
        RecordPtr record = RecordOfRow(r.get(), i, 1, 2, false);
        if (record && folder != messagefile::Folder::Bad)
            page.messages.push_back(queue::ListingLineOf(*record));
        else
            page.messages.push_back(queue::BadLineOf(BadName(Cell(r.get(), i, 1)), record.get()));
        if (static_cast<std::size_t>(rows) > limit)
            page.next = std::string(Cell(r.get(), i, 0));
    }
    return page;
}

std::uint64_t PgStore::CountQueued()
{
    if (!Ready())
        return 0;
    PgFailure failure;
    PgResult r = pool_.Exec("SELECT count(*) FROM velmo_messages WHERE folder = 'queued'", {}, failure);
    return r ? static_cast<std::uint64_t>(IntegerOf(Cell(r.get(), 0, 0))) : 0;
}

}  // namespace velmo::pgstore
