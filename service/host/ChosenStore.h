// The queue store config.xml chose, behind the one QueueStore every part
// of the service was given when the module was made: the folders until
// the configuration names PostgreSQL, then the database. It is also the
// board of the hosts that share the database (none with the folders).
//
// UsePostgres is called once, by the worker while it reads the
// configuration and before the dispatcher, the handlers or a client use
// the store; afterwards the choice never changes, so the calls need no lock.
#pragma once

#include "service/gateway/HostBoard.h"
#include "service/pgstore/PgSettings.h"
#include "service/queue/FolderStore.h"

#include <memory>

namespace velmo::pgstore {
class PgStore;
class PgWatch;
}  // namespace velmo::pgstore

namespace velmo::host {

class ChosenStore final : public queue::QueueStore, public gateway::HostBoard {
public:
    ChosenStore(events::EventSink& log, std::u16string root);
    ~ChosenStore() override;
    ChosenStore(const ChosenStore&) = delete;
    ChosenStore& operator=(const ChosenStore&) = delete;

    // From now on the store is the database settings name, opened at once
    // (its tables made or upgraded). A database that cannot be used now
    // does not undo the choice: the store tries again at every call, and
    // the failure's words are in why.
    HRESULT UsePostgres(const pgstore::PgSettings& settings, std::string& why);
    // With the database: starts the watch (PgWatch.h) that runs wake when
    // other hosts queue messages, at every idle check, keeps this host's
    // leases and reports its figures. Nothing with the folders.
    // held gives the messages whose leases the watch keeps, report the
    // figures this host reports.
    void StartWatch(std::function<void()> wake, std::function<std::vector<GUID>()> held,
                    std::function<gateway::HostFigures()> report);
    // Ends the watch; nothing when none runs.
    void StopWatch();

    HRESULT Accept(const messagefile::MessageRecord& r) override { return active_->Accept(r); }
    void Withdraw(const GUID& id) override { active_->Withdraw(id); }
    bool Knows(const GUID& id) override { return active_->Knows(id); }
    messagefile::RecordPtr LoadQueued(const GUID& id) override { return active_->LoadQueued(id); }
    HRESULT Take(const messagefile::MessageRecord& r, std::u16string_view device) override
    {
        return active_->Take(r, device);
    }
    HRESULT SaveRetry(const messagefile::MessageRecord& r) override { return active_->SaveRetry(r); }
    HRESULT Finish(const messagefile::MessageRecord& r) override { return active_->Finish(r); }
    HRESULT UpdateSent(const messagefile::MessageRecord& r) override { return active_->UpdateSent(r); }
    void Release(const messagefile::MessageRecord& r) override { active_->Release(r); }
    std::uint64_t Unclaimed(std::uint64_t after, std::size_t limit,
                            const std::function<bool(messagefile::RecordPtr)>& take) override
    {
        return active_->Unclaimed(after, limit, take);
    }
    int Recover(const std::function<bool(messagefile::RecordPtr)>& take) override { return active_->Recover(take); }
    HRESULT StoreReceived(const messagefile::MessageRecord& r) override { return active_->StoreReceived(r); }
    void Offered(const GUID& id) override { active_->Offered(id); }
    std::vector<messagefile::RecordPtr> AwaitingHandlers() override { return active_->AwaitingHandlers(); }
    std::optional<queue::Found> Find(const GUID& id) override { return active_->Find(id); }
    std::optional<queue::Page> List(messagefile::Folder folder, std::size_t limit, std::string_view cursor) override
    {
        return active_->List(folder, limit, cursor);
    }
    std::uint64_t CountQueued() override { return active_->CountQueued(); }

    std::string HostName() override;
    std::vector<gateway::HostFigures> OtherHosts() override;

private:
    events::EventSink& log_;
    queue::FolderStore folders_;
    std::unique_ptr<pgstore::PgStore> postgres_;
    std::unique_ptr<pgstore::PgWatch> watch_;
    queue::QueueStore* active_ = &folders_;
};

}  // namespace velmo::host
