// The thread that keeps a host in step with the shared queue: it listens
// for new queued messages (NOTIFY velmo_queued, sent by every host's
// Accept) and wakes the dispatcher, renews the leases of the messages this
// host's devices hold well within each lease, writes the local journal to
// the database once it answers again, reports this host's figures (every
// PgStore::ReportEveryMs), and wakes the dispatcher at every idle check even when nothing
// was announced, so a message whose lease ran out on a dead host is taken
// over.
//
// The thread holds a connection of its own for LISTEN. When the database
// goes away it waits a second (the test time divisor shortens it) and
// connects again; announcements missed meanwhile are made up for by the
// wake that follows every new connection.
#pragma once

#include "platform/Sync.h"
#include "service/pgstore/PgStore.h"

#include <atomic>
#include <functional>
#include <thread>

namespace velmo::pgstore {

class PgWatch {
public:
    // store must outlive the watch; wake runs on the watch's thread, never
    // twice at once; held gives the messages whose leases are renewed, and
    // report the figures this host reports.
    PgWatch(PgStore& store, std::function<void()> wake, std::function<std::vector<GUID>()> held,
            std::function<gateway::HostFigures()> report);
    ~PgWatch() { Stop(); }
    PgWatch(const PgWatch&) = delete;
    PgWatch& operator=(const PgWatch&) = delete;

    // Starts the thread (once); false when the stop event cannot be made.
    bool Start();
    // Ends the thread and waits for it (within one statement's time).
    void Stop();

    static constexpr unsigned kIdleCheckMs = 30000;  // a wake without an announcement

private:
    void Run();
    // Waits for the socket (-1: none) or the stop event at most ms; true
    // when the socket has something to read.
    bool WaitFor(int socket, unsigned ms);

    PgStore& store_;
    std::function<void()> wake_;
    std::function<std::vector<GUID>()> held_;
    std::function<gateway::HostFigures()> report_;
    std::atomic<bool> stopping_{false};
    Handle stop_;  // set by Stop, so a wait ends at once
    std::thread thread_;
};

}  // namespace velmo::pgstore
