// velmosvc /CHECK for the queue store: where messages would be kept and,
// for PostgreSQL, whether the service could use the database now: the
// connection, the tables' version and the rights on them, and the hosts
// that share it.
#include "service/host/StoreSettings.h"

#include "service/pgstore/PgSchema.h"

#include "platform/File.h"
#include "platform/Text.h"

#include <algorithm>

namespace velmo::host {

namespace {

using pgstore::Cell;
using pgstore::PgConnection;
using pgstore::PgFailure;
using pgstore::PgResult;

// The passfile libpq would read: it skips one that others may read.
void CheckPassfile(const std::string& path, std::FILE* out)
{
    if (!PathExists(path))
        std::fprintf(out, "warning: queue store: the passfile %s is not there\n", path.c_str());
    else if (!IsOwnerOnly(path))
        std::fprintf(out,
                     "warning: queue store: the passfile %s may be read by others, so libpq ignores it "
                     "(chmod 600 it)\n",
                     path.c_str());
}

// The hosts that report to the database, and how long ago each last did.
void ListHosts(PgConnection& conn, std::FILE* out)
{
    constexpr int kMostListed = 50;
    PgFailure failure;
    PgResult hosts = conn.Exec("SELECT host, extract(epoch FROM now() - reported)::bigint FROM velmo_hosts "
                               "ORDER BY host LIMIT " +
                                   std::to_string(kMostListed + 1),
                               {}, failure);
    if (!hosts)
        return;  // the rights were just read: a failure now is told by the next statement the service makes
    int n = PQntuples(hosts.get());
    if (n == 0) {
        std::fprintf(out, "queue store: no gateway host has reported to it yet\n");
        return;
    }
    std::string line;
    for (int row = 0; row < std::min(n, kMostListed); ++row)
        line += (row ? ", " : "") + EscapeControls(Cell(hosts.get(), row, 0)) + " (" +
                std::string(Cell(hosts.get(), row, 1)) + " s ago)";
    std::fprintf(out, "queue store: gateway hosts that report to it: %s%s\n", line.c_str(),
                 n > kMostListed ? ", ..." : "");
}

// What the service could do with the tables as they stand; false when it
// could not use them.
bool CheckTables(PgConnection& conn, std::FILE* out)
{
    PgFailure failure;
    int version = pgstore::SchemaVersion(conn, failure);
    if (version < 0) {
        std::fprintf(out, "problem: queue store: the tables' version cannot be read: %s\n", failure.why.c_str());
        return false;
    }
    if (version > pgstore::kSchemaVersion) {
        std::fprintf(out, "problem: queue store: the tables stand at version %d, newer than this velmosvc knows (%d)\n",
                     version, pgstore::kSchemaVersion);
        return false;
    }
    if (version < pgstore::kSchemaVersion) {
        PgResult create = conn.Exec("SELECT has_schema_privilege(current_schema(), 'CREATE')", {}, failure);
        bool may = create && Cell(create.get(), 0, 0) == "t";
        std::fprintf(out, "%s: queue store: the tables stand at version %d; velmosvc %s them to version %d at start\n",
                     may ? "note" : "problem", version, may ? (version ? "upgrades" : "creates") : "cannot bring",
                     pgstore::kSchemaVersion);
        if (!may)
            std::fprintf(out, "problem: queue store: the user may not create tables in the schema\n");
        return may;
    }
    PgResult rights = conn.Exec(
        // has_table_privilege with a list answers whether any one is held: each is asked alone.
        "SELECT t FROM unnest(ARRAY['velmo_messages', 'velmo_hosts', 'velmo_devices']) AS t WHERE NOT ("
        "has_table_privilege(t, 'SELECT') AND has_table_privilege(t, 'INSERT') AND has_table_privilege(t, 'UPDATE') "
        "AND has_table_privilege(t, 'DELETE')) UNION ALL SELECT 'velmo_listing' WHERE NOT "
        "has_sequence_privilege('velmo_listing', 'USAGE')",
        {}, failure);
    if (!rights || PQntuples(rights.get()) > 0) {
        std::string names;
        for (int row = 0; rights && row < PQntuples(rights.get()); ++row)
            names += (row ? ", " : "") + std::string(Cell(rights.get(), row, 0));
        std::fprintf(out, "problem: queue store: the user may not read and write %s%s%s\n",
                     rights ? names.c_str() : "the tables", rights ? "" : ": ", rights ? "" : failure.why.c_str());
        return false;
    }
    std::fprintf(out, "queue store: the tables stand at version %d, and the user may read and write them\n", version);
    ListHosts(conn, out);
    return true;
}

}  // namespace

bool CheckStore(const StoreChoice& choice, std::FILE* out)
{
    if (!choice.postgres)
        return true;  // the folders, as ever: nothing to say
    std::fprintf(out, "queue store: PostgreSQL \"%s\" as host %s, lease %us\n", choice.connection.c_str(),
                 choice.settings.host.c_str(), static_cast<unsigned>(choice.settings.leaseSeconds));
    if (!choice.passfile.empty())
        CheckPassfile(choice.passfile, out);
    PgConnection conn(choice.settings.connection);
    PgFailure failure;
    PgResult who = conn.Exec("SELECT current_database(), current_user, current_setting('server_version')", {}, failure);
    if (!who) {
        std::fprintf(out, "problem: queue store: cannot connect: %s\n", failure.why.c_str());
        return false;
    }
    std::fprintf(out, "queue store: connected to database %s as %s (PostgreSQL %s)\n",
                 std::string(Cell(who.get(), 0, 0)).c_str(), std::string(Cell(who.get(), 0, 1)).c_str(),
                 std::string(Cell(who.get(), 0, 2)).c_str());
    return CheckTables(conn, out);
}

}  // namespace velmo::host
