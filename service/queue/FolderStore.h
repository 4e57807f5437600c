// The queue store as folders of message files under the root: the one
// store of a service on its own host (QueueStore.h states the contract).
//
// A message is its file "{ID}.velmo": queued while it stands in out/,
// finished once it stands in out/sent/ or out/failed/, received in in/;
// bad/ keeps what cannot be read. Every write replaces a file durably
// (MessageRecord::SaveToFile), and a move is a save of the new copy before
// the old one is deleted, so a crash leaves the old copy, the new one or
// both, never neither; Recover settles both. The folders are the store;
// only the order of their listing is kept in memory (ListingIndex).
#pragma once

#include "service/events/EventSink.h"
#include "service/queue/ListingIndex.h"
#include "service/queue/QueueStore.h"

namespace velmo::queue {

class FolderStore final : public QueueStore {
public:
    // root: the installation root folder, ending in "/"; log takes the
    // store's events and must outlive the store.
    FolderStore(events::EventSink& log, std::u16string root) : log_(log), root_(std::move(root)) {}
    FolderStore(const FolderStore&) = delete;
    FolderStore& operator=(const FolderStore&) = delete;

    HRESULT Accept(const messagefile::MessageRecord& record) override;
    void Withdraw(const GUID& id) override;
    bool Knows(const GUID& id) override;
    messagefile::RecordPtr LoadQueued(const GUID& id) override;
    // Every queued file belongs to this service alone: always S_OK.
    HRESULT Take(const messagefile::MessageRecord& record, std::u16string_view device) override;
    HRESULT SaveRetry(const messagefile::MessageRecord& record) override;
    HRESULT Finish(const messagefile::MessageRecord& record) override;
    HRESULT UpdateSent(const messagefile::MessageRecord& record) override;
    // Removes the temporary files of interrupted writes, deletes the queue
    // copy of a message that was finished already, and gives the files of
    // out/ in the order the folder lists them. A file whose name is not its
    // id is first brought in line (logged): a name that is an id gives the
    // record that id, any other name is renamed to the record's id.
    int Recover(const std::function<bool(messagefile::RecordPtr)>& take) override;
    HRESULT StoreReceived(const messagefile::MessageRecord& record) override;
    void Offered(const GUID& id) override;
    std::vector<messagefile::RecordPtr> AwaitingHandlers() override;
    std::optional<Found> Find(const GUID& id) override;
    // Newest file first, by the time it was written into the folder, then
    // by name downwards; a file that moves or goes is left out. A page
    // costs what is on it (ListingIndex), except in bad/, read afresh.
    // A file of bad/ is always listed as BAD, with what it holds when it
    // can be read; a file of another folder that cannot be read is listed
    // as BAD while it stands there.
    std::optional<Page> List(Folder folder, std::size_t limit, std::string_view cursor) override;
    std::uint64_t CountQueued() override;

private:
    std::u16string PathOf(const char16_t* folder, const GUID& id) const;
    std::u16string OfferMarkOf(const GUID& id) const;
    // The message files of a folder and their write times, from the disk.
    std::vector<ListingEntry> ReadEntries(Folder folder) const;
    // Saves durably into path; on failure logs it and removes what the
    // attempt may have left.
    HRESULT SaveNew(const messagefile::MessageRecord& record, const std::u16string& path);
    int RemoveLeftovers();
    void MatchIdToName(messagefile::MessageRecord& record, std::u16string& path, const std::u16string& name);

    events::EventSink& log_;
    const std::u16string root_;
    ListingIndex index_{[this](Folder folder) { return ReadEntries(folder); }};
};

}  // namespace velmo::queue
