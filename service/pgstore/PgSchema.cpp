#include "service/pgstore/PgSchema.h"

namespace velmo::pgstore {

namespace {

// A key of the advisory lock that serialises upgrades ("velmo" in ASCII).
constexpr const char* kUpgradeLock = "SELECT pg_advisory_xact_lock(495068687471)";

// Step N brings the tables from version N-1 to N.
constexpr const char* kSchemaSteps[] = {
    // 1: the messages, one row each, in the folder they stand in.
    R"sql(
CREATE SEQUENCE velmo_listing;
CREATE TABLE velmo_messages (
    id                uuid PRIMARY KEY,
    folder            text NOT NULL CHECK (folder IN ('queued', 'sent', 'failed', 'received', 'bad')),
    listed            bigint NOT NULL DEFAULT nextval('velmo_listing'),
    status            integer NOT NULL,
    retries           integer NOT NULL DEFAULT 0,
    recipient         text,
    sender            text,
    body              text,
    status_text       text,
    created           timestamptz,
    completed         timestamptz,
    received          timestamptz,
    accepted          timestamptz,
    discharged        timestamptz,
    expire_after      integer NOT NULL DEFAULT 0,
    file              bytea NOT NULL,
    host              text NOT NULL,
    device            text,
    lease_host        text,
    lease_until       timestamptz,
    awaiting_handlers boolean NOT NULL DEFAULT false,
    queued_at         timestamptz NOT NULL DEFAULT now(),
    taken_at          timestamptz,
    retried_at        timestamptz,
    finished_at       timestamptz,
    updated_at        timestamptz NOT NULL DEFAULT now()
);
CREATE UNIQUE INDEX velmo_messages_by_folder ON velmo_messages (folder, listed);
CREATE INDEX velmo_messages_awaiting ON velmo_messages (host, received, id) WHERE awaiting_handlers;
)sql",
    // 2: what each host reports of itself: its counts and its devices.
    R"sql(
CREATE TABLE velmo_hosts (
    host             text PRIMARY KEY,
    instance         text NOT NULL DEFAULT '',
    reported         timestamptz NOT NULL,
    queued           bigint NOT NULL DEFAULT 0,
    delivery_buckets bigint[] NOT NULL DEFAULT '{}',
    delivery_sum     double precision NOT NULL DEFAULT 0,
    delivery_count   bigint NOT NULL DEFAULT 0
);
CREATE TABLE velmo_devices (
    host          text NOT NULL REFERENCES velmo_hosts ON DELETE CASCADE,
    position      integer NOT NULL,
    name          text NOT NULL,
    id            integer NOT NULL DEFAULT 0,
    state         text,
    signal        integer NOT NULL DEFAULT -1,
    registration  text NOT NULL DEFAULT '',
    operator      text NOT NULL DEFAULT '',
    last_error    text NOT NULL DEFAULT '',
    next_try      timestamptz,
    failed_starts integer NOT NULL DEFAULT 0,
    info          text NOT NULL DEFAULT '',
    sent          bigint NOT NULL DEFAULT 0,
    failed        bigint NOT NULL DEFAULT 0,
    received      bigint NOT NULL DEFAULT 0,
    delivered     bigint NOT NULL DEFAULT 0,
    undelivered   bigint NOT NULL DEFAULT 0,
    PRIMARY KEY (host, position)
);
)sql",
};

constexpr int kSteps = static_cast<int>(sizeof kSchemaSteps / sizeof kSchemaSteps[0]);
static_assert(kSteps == kSchemaVersion, "one step per version");

}  // namespace

int SchemaVersion(PgConnection& conn, PgFailure& failure)
{
    PgResult exists = conn.Exec("SELECT to_regclass('velmo_schema') IS NOT NULL", {}, failure);
    if (!exists)
        return -1;
    if (Cell(exists.get(), 0, 0) != "t")
        return 0;
    PgResult version = conn.Exec("SELECT coalesce(max(version), 0) FROM velmo_schema", {}, failure);
    if (!version)
        return -1;
    return static_cast<int>(IntegerOf(Cell(version.get(), 0, 0)));
}

HRESULT UpgradeSchema(PgConnection& conn, PgFailure& failure, int to)
{
    if (to > kSchemaVersion)
        to = kSchemaVersion;
    PgTransaction transaction(conn, failure);
    if (!transaction.Began() || !conn.Exec(kUpgradeLock, failure) ||
        !conn.Exec("CREATE TABLE IF NOT EXISTS velmo_schema (version integer PRIMARY KEY, "
                   "upgraded timestamptz NOT NULL DEFAULT now())",
                   failure))
        return E_FAIL;
    int at = SchemaVersion(conn, failure);
    if (at < 0)
        return E_FAIL;
    if (at > kSchemaVersion) {
        failure.why = "the tables stand at version " + std::to_string(at) + ", newer than this velmosvc knows (" +
                      std::to_string(kSchemaVersion) + "): upgrade velmosvc";
        failure.connectionLost = false;
        return E_FAIL;
    }
    for (int step = at + 1; step <= to; ++step) {
        if (!conn.Exec(kSchemaSteps[step - 1], failure) || !conn.Exec("INSERT INTO velmo_schema (version) VALUES ($1)",
                                                                      {PgParam::Text(std::to_string(step))}, failure))
            return E_FAIL;
    }
    return transaction.Commit(failure) ? S_OK : E_FAIL;
}

}  // namespace velmo::pgstore
