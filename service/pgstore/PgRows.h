// How a message record becomes the values of a velmo_messages row: the
// file's bytes, and each field as its column holds it.
#pragma once

#include "messagefile/MessageRecord.h"
#include "messagefile/QueueFolders.h"
#include "service/pgstore/PgConnection.h"

#include <vector>

namespace velmo::pgstore {

// The columns every write sets, in the order of the values FieldsOf gives
// from $2 on ($1 is the id): status, retries, recipient, sender, body,
// status_text, created, completed, received, accepted, discharged,
// expire_after, file. Times are sent as seconds since 1970 and pass
// through to_timestamp.
// The SET list of every field, $2-$14 (FieldsOf's order).
inline constexpr const char* kSetEveryField =
    "status = $2, retries = $3, recipient = $4, sender = $5, body = $6, status_text = $7, "
    "created = to_timestamp($8::double precision), completed = to_timestamp($9::double precision), "
    "received = to_timestamp($10::double precision), accepted = to_timestamp($11::double precision), "
    "discharged = to_timestamp($12::double precision), expire_after = $13, file = $14, updated_at = now()";
// A new row: FieldsOf's values, then folder ($15), host ($16) and
// awaiting_handlers ($17).
inline constexpr const char* kInsertRow =
    "INSERT INTO velmo_messages (id, status, retries, recipient, sender, body, status_text, created, completed, "
    "received, accepted, discharged, expire_after, file, folder, host, awaiting_handlers) VALUES ($1, $2, $3, $4, "
    "$5, $6, $7, to_timestamp($8::double precision), to_timestamp($9::double precision), "
    "to_timestamp($10::double precision), to_timestamp($11::double precision), "
    "to_timestamp($12::double precision), $13, $14, $15, $16, $17)";

// The id and the 13 fields of the record as statement values. A time
// never set (or no date) is NULL, a null string NULL; text loses what
// PostgreSQL's text cannot hold (NUL characters; a lone surrogate becomes
// U+FFFD). The file's bytes keep everything as it was.
std::vector<PgParam> FieldsOf(const messagefile::MessageRecord& record);

// The id as the uuid column takes it.
std::string UuidOf(const GUID& id);

// The folder's name in the folder column: the name clients use.
const char* FolderColumn(messagefile::Folder folder);
// The folder a folder column names; bad for a name that is none.
const messagefile::FolderName& FolderOfColumn(std::string_view name);

}  // namespace velmo::pgstore
