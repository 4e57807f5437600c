// velmosvc /MOVE postgresql|folders: the queue moved between the folders
// under the root and the PostgreSQL tables config.xml names, while the
// service is stopped (docs/postgresql.md).
#include "service/host/ConfigReport.h"
#include "service/host/InstanceLock.h"
#include "service/host/ServiceModule.h"
#include "service/pgstore/PgMove.h"
#include "service/pgstore/PgSchema.h"

#include "platform/Text.h"

namespace velmo::host {

int MoveQueue(ServiceModule& module, const std::string& to, std::FILE* out)
{
    if (to != "postgresql" && to != "folders") {
        std::fprintf(out, "velmosvc /MOVE postgresql moves the queue folders into the database config.xml names;\n"
                          "velmosvc /MOVE folders moves the database's messages into the folders.\n");
        return 2;
    }
    ConfigReport report;
    (void)ReadConfiguration(module, report);  // a file without devices still names its store
    if (report.rejected) {
        for (const std::string& problem : report.problems)
            std::fprintf(out, "problem: %s\n", problem.c_str());
        std::fprintf(out, "config.xml cannot be read: nothing is moved.\n");
        return 1;
    }
    if (!report.store.postgres) {
        std::fprintf(out, "config.xml names no PostgreSQL store (<queue store=\"postgresql\" connection=\"...\"/>): "
                          "there is no database to move to or from.\n");
        return 1;
    }
    InstanceLock lock;
    switch (lock.Take(module.rootFolder)) {
    case InstanceLock::Result::Taken: break;
    case InstanceLock::Result::HeldElsewhere:
        std::fprintf(out, "velmosvc runs on this root (process %s): stop it first.\n", lock.Holder().c_str());
        return 1;
    case InstanceLock::Result::Unavailable:
        std::fprintf(out, "The root %s cannot be locked: nothing is moved.\n", lock.Path().c_str());
        return 1;
    }
    pgstore::PgConnection conn(report.store.settings.connection);
    pgstore::PgFailure failure;
    if (FAILED(pgstore::UpgradeSchema(conn, failure))) {
        std::fprintf(out, "The database cannot be used: %s\n", failure.why.c_str());
        return 1;
    }
    std::string root = Utf16ToUtf8(module.rootFolder);
    bool all = to == "postgresql" ? pgstore::MoveIntoDatabase(conn, root, report.store.settings.host, out)
                                  : pgstore::MoveOutOfDatabase(conn, root, out);
    std::fprintf(out, all ? "Every message was moved.\n"
                          : "Some messages were not moved (see above); they stay where they were: run the move "
                            "again.\n");
    return all ? 0 : 1;
}

}  // namespace velmo::host
