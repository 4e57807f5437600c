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
inline constexpr int kFieldCount = 14;

// The id and the 13 fields of the record as statement values. A time
// never set (or no date) is NULL, a null string NULL; text loses what
// PostgreSQL's text cannot hold (NUL characters; a lone surrogate becomes
// U+FFFD). The file's bytes keep everything as it was.
std::vector<PgParam> FieldsOf(const messagefile::MessageRecord& record);

// The id as the uuid column takes it.
std::string UuidOf(const GUID& id);

// The folder's name in the folder column: the name clients use.
const char* FolderColumn(messagefile::Folder folder);

}  // namespace velmo::pgstore
