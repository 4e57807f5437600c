// The queue store in a PostgreSQL database that several gateway hosts may
// share (QueueStore.h states the contract; docs/postgresql.md the tables).
//
// A message is one row of velmo_messages, in the folder it stands in
// ('queued', 'sent', 'failed', 'received', 'bad'). The row keeps the
// message file's bytes (the copy the service reads) and each of its fields
// in a column of its own (for people and SQL), plus the host that queued or
// received it, the device and host that hold it with the lease's end, and
// the time of each step. Every change is one statement, so a crash leaves
// the row before or after it, never between.
//
// Taking: a host takes a queued message for one of its devices only while
// no lease on it runs (Take); the lease is this host's until the message
// is finished, kept for a retry (given back), given back unsent, or its
// time passes.
// Recover at start gives back this host's own leases (the devices that
// held them are gone) and gives every queued message no other host holds.
//
// When the database cannot be reached, every call fails (logged once by
// the pool, with the line when it answers again) and the connection is
// made again at the next call.
#pragma once

#include "service/events/EventSink.h"
#include "service/gateway/HostBoard.h"
#include "service/pgstore/PgJournal.h"
#include "service/pgstore/PgPool.h"
#include "service/pgstore/PgSettings.h"
#include "service/queue/QueueStore.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <cstdint>
#include <string>

namespace velmo::pgstore {

class PgStore final : public queue::QueueStore {
public:
    // log must outlive the store. Nothing is connected yet.
    PgStore(events::EventSink& log, PgSettings settings);
    PgStore(const PgStore&) = delete;
    PgStore& operator=(const PgStore&) = delete;

    // Connects, brings the tables to this build's version and writes the
    // local journal. S_OK when the store can be used; a failure with why
    // set (escaped words) when the database cannot be reached, refuses the
    // upgrade, or stands at a newer version (and in opened, when given,
    // the failure itself). The calls below make the same check while it
    // has not succeeded yet.
    HRESULT Open(std::string& why, PgFailure* opened = nullptr);
    // Writes what the local journal kept while the database was away, in
    // the order it was kept; the entries written. Nothing while another
    // thread replays, or before the store opened.
    int ReplayJournal();

    // queue::kStoreAway while the database cannot be reached.
    HRESULT Accept(const messagefile::MessageRecord& record) override;
    void Withdraw(const GUID& id) override;
    bool Knows(const GUID& id) override;
    messagefile::RecordPtr LoadQueued(const GUID& id) override;
    // S_OK once this host holds the message for device (its lease set);
    // E_ACCESSDENIED while any host's lease on it runs (this host's too: a
    // message is never held twice), or when it is no longer queued; another
    // failure when the database did not answer.
    HRESULT Take(const messagefile::MessageRecord& record, std::u16string_view device) override;
    // The lease is given back with it: the next attempt is any host's.
    HRESULT SaveRetry(const messagefile::MessageRecord& record) override;
    // Only a lease of this host is given back.
    void Release(const messagefile::MessageRecord& record) override;
    // Those whose lease is unset or has run out, whichever host queued them.
    std::uint64_t Unclaimed(std::uint64_t after, std::size_t limit,
                            const std::function<bool(messagefile::RecordPtr)>& take) override;
    // Sets the lease of each of these messages that this host holds to a
    // whole lease from now: the watch runs it well within each lease, for
    // the messages the host's devices hold. A lease of this host on any
    // other message (one it lost track of) runs out, and the message is
    // taken again. The number renewed; -1 when the database did not answer.
    long RenewLeases(const std::vector<GUID>& held);
    // A message another host finished already (its lease had run out) keeps
    // that outcome: S_FALSE, logged. Finish, UpdateSent, StoreReceived and
    // Offered succeed while the database is away by keeping the change in
    // the local journal (when the settings name its folder).
    HRESULT Finish(const messagefile::MessageRecord& record) override;
    HRESULT UpdateSent(const messagefile::MessageRecord& record) override;
    int Recover(const std::function<bool(messagefile::RecordPtr)>& take) override;
    HRESULT StoreReceived(const messagefile::MessageRecord& record) override;
    void Offered(const GUID& id) override;
    // Only those this host received: its handlers run them.
    std::vector<messagefile::RecordPtr> AwaitingHandlers() override;
    std::optional<queue::Found> Find(const GUID& id) override;
    // Newest first by the order rows entered their folder; a page costs
    // what is on it (an index on folder and that order). While the
    // database does not answer: an empty page with error kStoreAway.
    std::optional<queue::Page> List(messagefile::Folder folder, std::size_t limit, std::string_view cursor) override;
    // Over every host.
    std::uint64_t CountQueued() override;

    // Writes this host's figures (under its name from the settings) as its
    // report in velmo_hosts and velmo_devices, in place of the last one.
    // S_OK; E_FAIL when the database did not answer or refused (told once).
    // Another service that reports under the same name is logged, once.
    HRESULT ReportHost(const gateway::HostFigures& figures);
    // The reports of the other hosts (HostBoard::OtherHosts); empty when
    // the database does not answer. At most kMostDeviceRows devices.
    std::vector<gateway::HostFigures> OtherHosts();
    // How often a host reports: every 10 s (the test divisor shortens it,
    // to no less than 200 ms). A host silent for six of these is lost.
    static unsigned ReportEveryMs();
    static constexpr int kMostDeviceRows = 10000;

    const PgSettings& Settings() const { return settings_; }

private:
    // Open once, before any statement; false (logged by the pool) when the
    // database is still not there, with failure set when given.
    bool Ready(PgFailure* failure = nullptr);
    // hr, or S_OK once the change is kept in the journal when hr failed
    // because the database is away.
    HRESULT KeepOrFail(const char* kind, const GUID& id, const std::vector<unsigned char>& bytes,
                       const PgFailure& failure, HRESULT hr);
    HRESULT FinishRow(const messagefile::MessageRecord& record, PgFailure& failure);
    HRESULT UpdateSentRow(const messagefile::MessageRecord& record, PgFailure& failure);
    HRESULT InsertReceived(const messagefile::MessageRecord& record, bool awaiting, PgFailure& failure);
    HRESULT MarkOffered(const GUID& id, PgFailure& failure);
    HRESULT ReplayEntry(const PgJournal::Entry& entry, PgFailure& failure);
    // The record of a row from its file cell; null after logging when the
    // file does not read (with setAside, a queued row is then moved to bad).
    messagefile::RecordPtr RecordOfRow(const PGresult* r, int row, int idColumn, int fileColumn, bool setAside);
    // Runs an UPDATE that writes every field of the record ($1 is its id,
    // $2-$14 its fields), then `more` (further SET clauses, then the WHERE
    // beyond the id, with its values from $15 on in extra). Rows changed;
    // -1 on failure.
    long WriteFields(const messagefile::MessageRecord& record, std::string_view more, std::vector<PgParam> extra,
                     PgFailure& failure);

    events::EventSink& log_;
    const PgSettings settings_;
    PgPool pool_;
    std::atomic<bool> open_{false};
    std::unique_ptr<PgJournal> journal_;  // null without a journal folder
    std::atomic<bool> keeping_{false};    // the journal took an entry since it was last written
    std::mutex replaying_;
    std::atomic<bool> reportRefused_{false};  // the last report was refused, and that was told
    const std::string instance_;              // this store's own mark in its host's row, new at each start
    std::atomic<bool> reported_{false};       // a report of this store was written
    std::atomic<bool> nameShared_{false};     // another service under this host's name was found, and told
};

}  // namespace velmo::pgstore
