#include "service/pgstore/PgPool.h"

namespace velmo::pgstore {

PgPool::PgPool(events::EventSink& log, const std::string& conninfo, std::size_t size) : log_(log)
{
    for (std::size_t i = 0; i < std::max<std::size_t>(size, 1); ++i) {
        all_.push_back(std::make_unique<PgConnection>(conninfo));
        idle_.push_back(all_.back().get());
    }
}

PgPool::Borrowed PgPool::Borrow()
{
    std::unique_lock<std::mutex> hold(lock_);
    returned_.wait(hold, [this] { return !idle_.empty(); });
    PgConnection* conn = idle_.back();
    idle_.pop_back();
    return Borrowed(*this, *conn);
}

void PgPool::GiveBack(PgConnection& conn)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        idle_.push_back(&conn);
    }
    returned_.notify_one();
}

void PgPool::Note(bool ok, const PgFailure& failure)
{
    if (ok || !failure.connectionLost) {
        if (!reachable_.exchange(true))
            log_.LogEvent(EVENTLOG_INFORMATION_TYPE, "The queue store is back: PostgreSQL answers again");
        return;
    }
    // A connection that stood may break for a moment (the server restarted,
    // and each idle connection finds out at its next statement): the loss
    // is told once a new connection cannot be made either.
    if (!failure.unreachable)
        return;
    if (reachable_.exchange(false))
        log_.LogEvent(EVENTLOG_ERROR_TYPE,
                      "The queue store is lost: %s. Messages are refused until PostgreSQL answers again",
                      failure.why.c_str());
}

PgResult PgPool::Exec(PgConnection& conn, std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure)
{
    PgResult result = conn.Exec(sql, params, failure);
    Note(result != nullptr, failure);
    if (!result && !failure.connectionLost)
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "The queue store refused a statement: %s", failure.why.c_str());
    return result;
}

PgResult PgPool::Exec(std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure)
{
    Borrowed conn = Borrow();
    return Exec(*conn, sql, params, failure);
}

}  // namespace velmo::pgstore
