// The tables of the PostgreSQL queue store, created and upgraded by the
// service itself (docs/postgresql.md describes them table by table).
//
// velmo_schema records the version the tables stand at, one row per step
// taken. Each step of kSchemaSteps brings the tables from the version
// before it to its own; Upgrade takes the missing ones in one transaction
// under an advisory lock, so two hosts starting at once upgrade once, and a
// step that fails leaves the tables as they were.
#pragma once

#include "platform/Types.h"
#include "service/pgstore/PgConnection.h"

#include <string>

namespace velmo::pgstore {

// The version this build writes and reads.
inline constexpr int kSchemaVersion = 2;

// The version the database's tables stand at: 0 when there are none yet,
// -1 with failure set when it cannot be read.
int SchemaVersion(PgConnection& conn, PgFailure& failure);

// Brings the tables to version `to` (at most kSchemaVersion; tests ask for
// an older one). S_OK when they stand there now; E_FAIL with failure set
// when a step failed (nothing of it is kept) or the tables stand at a
// newer version than this build knows (failure.why says so).
HRESULT UpgradeSchema(PgConnection& conn, PgFailure& failure, int to = kSchemaVersion);

}  // namespace velmo::pgstore
