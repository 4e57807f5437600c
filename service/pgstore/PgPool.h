// A few connections to one database, shared by the threads of the service.
//
// Borrow hands one connection to one thread until the Borrowed goes out of
// scope; a thread that finds them all in use waits for one. The pool also
// tells whether the database is reachable: the first statement that finds
// it lost (no connection can be made) logs "The queue store is lost" once,
// and the first that works again logs "The queue store is back", so a long
// outage gives two lines and a restart of the server at most two.
#pragma once

#include "service/events/EventSink.h"
#include "service/pgstore/PgConnection.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace velmo::pgstore {

class PgPool {
public:
    // size connections (at least 1) to conninfo; none is made before use.
    // log must outlive the pool.
    PgPool(events::EventSink& log, const std::string& conninfo, std::size_t size);
    PgPool(const PgPool&) = delete;
    PgPool& operator=(const PgPool&) = delete;

    class Borrowed {
    public:
        Borrowed(PgPool& pool, PgConnection& conn) : pool_(&pool), conn_(&conn) {}
        Borrowed(Borrowed&& other) noexcept : pool_(other.pool_), conn_(other.conn_) { other.pool_ = nullptr; }
        Borrowed(const Borrowed&) = delete;
        Borrowed& operator=(const Borrowed&) = delete;
        ~Borrowed()
        {
            if (pool_)
                pool_->GiveBack(*conn_);
        }
        PgConnection& operator*() const { return *conn_; }
        PgConnection* operator->() const { return conn_; }

    private:
        PgPool* pool_;
        PgConnection* conn_;
    };

    // A connection for this thread alone, waiting while all are in use.
    Borrowed Borrow();

    // Runs sql on a borrowed connection and notes whether the database
    // answered (see the class comment). Null with failure set when the
    // statement failed.
    PgResult Exec(std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure);
    // The same on a connection the caller holds (inside a transaction).
    PgResult Exec(PgConnection& conn, std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure);
    // Whether the last statement found the database there.
    bool Reachable() const { return reachable_; }
    // Notes the outcome of a statement run by hand on a borrowed connection.
    void Note(bool ok, const PgFailure& failure);

private:
    void GiveBack(PgConnection& conn);

    events::EventSink& log_;
    std::vector<std::unique_ptr<PgConnection>> all_;
    std::vector<PgConnection*> idle_;
    std::mutex lock_;
    std::condition_variable returned_;
    std::atomic<bool> reachable_{true};
};

}  // namespace velmo::pgstore
