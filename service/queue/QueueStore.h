// The queue store: everything the service does with stored messages goes
// through this one interface. The dispatcher accepts, takes, retries and
// finishes outgoing messages through it; the event-handler queue stores
// received ones; the gateway and MessageCenter read, list and count.
//
// Outgoing messages are queued until they are finished as sent or failed;
// received messages are stored once; a file that is no readable message is
// kept aside as bad, never deleted. A message is known by its id in every
// folder, and the folders are those of QueueFolders.h.
//
// Durability: a call that changes a message returns success only once the
// change would outlive a crash; a call that fails leaves what stood before
// (a message is never lost, and one the caller was refused is never sent).
// Failures are logged by the store itself, naming what could not be
// written or read; the caller decides what its client is told.
//
// Threads: every operation may be called from any thread at any time; two
// operations on the same message are never made at once by the service
// (a message is held by one part at a time).
#pragma once

#include "messagefile/MessageRecord.h"
#include "messagefile/QueueFolders.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::queue {

using messagefile::Folder;

// What a store that lives apart from the service (a database) answers
// while it cannot be reached: the call may work later.
inline constexpr HRESULT kStoreAway = MakeHResult(0x80070015u);  // HRESULT_FROM_WIN32(ERROR_NOT_READY)

// A message found by its id, and where it stands.
struct Found {
    messagefile::RecordPtr record;  // null when it stands there but cannot be read
    Folder folder = Folder::Queued;
    HRESULT readError = S_OK;  // why it cannot be read (kStoreAway: the store cannot tell now)
    std::string location;      // where it stands, for a log line (a file's path)
};

// One line of a listing. For a bad entry that cannot be read, id is its
// name without ".velmo", status "BAD" and the rest empty.
struct ListedMessage {
    std::string id;
    std::string status;
    std::string to;
    std::string from;
    std::string date;
};

// The line of a readable message: its id, status word, recipient and
// sender (bounded as a listing carries them) and its date.
ListedMessage ListingLineOf(const messagefile::MessageRecord& record);
// The line of a bad entry named id: "BAD", with what record holds when it
// could be read (null: nothing).
ListedMessage BadLineOf(std::string id, const messagefile::MessageRecord* record);

struct Page {
    std::vector<ListedMessage> messages;
    std::string next;      // the cursor of the following page; "" after the last
    HRESULT error = S_OK;  // kStoreAway: the store cannot list now (the page is empty)
};

inline constexpr std::size_t kDefaultPage = 100;
inline constexpr std::size_t kMostPerPage = 1000;

class QueueStore {
public:
    virtual ~QueueStore() = default;

    // --- outgoing messages ---

    // A new outgoing message (its record made by Initialise, To and Body
    // set) is queued. S_OK once it lasts; on failure no copy is left that
    // could be sent.
    virtual HRESULT Accept(const messagefile::MessageRecord& record) = 0;
    // Takes back a message Accept queued that was never handed to a device
    // (its client is told it failed): the queued copy goes. Never fails;
    // a copy that cannot be removed is logged.
    virtual void Withdraw(const GUID& id) = 0;
    // Whether a message of that id is queued or finished.
    virtual bool Knows(const GUID& id) = 0;
    // The queued message of that id as it stands now; null when none is
    // queued or it cannot be read (logged; a damaged one is kept aside as
    // bad, one that cannot be read now stays queued for a later read).
    virtual messagefile::RecordPtr LoadQueued(const GUID& id) = 0;
    // Takes a queued message for the named device before it is handed
    // over. S_OK: the device may send it; a failure leaves it queued.
    virtual HRESULT Take(const messagefile::MessageRecord& record, std::u16string_view device) = 0;
    // Keeps a message queued after an attempt, as the record now stands
    // (QUEUED, its retry count and status text). A failure leaves the
    // copy before the attempt, which serves as well.
    virtual HRESULT SaveRetry(const messagefile::MessageRecord& record) = 0;
    // Finishes a message whose record's Status is SENT or FAILED: it is
    // stored as finished, then leaves the queue. A failure leaves it
    // queued, to be dispatched again at the next start.
    virtual HRESULT Finish(const messagefile::MessageRecord& record) = 0;
    // Replaces the stored copy of a sent message with the record as it now
    // stands (SENT with more status text, DELIVERED or UNDELIVERED): it
    // stays among the sent. A failure (logged) leaves the copy before.
    virtual HRESULT UpdateSent(const messagefile::MessageRecord& record) = 0;
    // Gives back a message this service took but leaves queued for now
    // (its device had no room): another host may take it. Never fails; the
    // folders belong to one service, so there it does nothing.
    virtual void Release(const messagefile::MessageRecord& record) { (void)record; }
    // Queued messages that no host holds now, in the order they were
    // queued, from after the position `after` (0: from the first): at most
    // limit, each given to take until it returns false. The position of the
    // last one given, for the next call (after when none was). A store of
    // one service alone gives none: Recover gave them all at start.
    virtual std::uint64_t Unclaimed(std::uint64_t after, std::size_t limit,
                                    const std::function<bool(messagefile::RecordPtr)>& take)
    {
        (void)limit;
        (void)take;
        return after;
    }
    // At start: clears what a crash left half done, then gives each queued
    // message to take, until take returns false. The number of queued
    // entries handled (read, set aside, or found finished already).
    virtual int Recover(const std::function<bool(messagefile::RecordPtr)>& take) = 0;

    // --- received messages ---

    // A received message (RECEIVED, From, Body and Received set) is stored,
    // and recorded as waiting for the handlers, both durably: after S_OK a
    // crash leaves it to be offered again. On failure no copy is left.
    virtual HRESULT StoreReceived(const messagefile::MessageRecord& record) = 0;
    // The handlers have had the received message of that id: it waits for
    // them no longer. Never fails; a record of the wait that cannot be
    // removed is logged, and the message is offered again after a restart.
    virtual void Offered(const GUID& id) = 0;
    // The received messages that still wait for the handlers, oldest
    // received first (then by id). A wait whose message is gone is
    // forgotten; one whose message cannot be read is logged and left.
    virtual std::vector<messagefile::RecordPtr> AwaitingHandlers() = 0;

    // --- reading ---

    // The message of that id in the first folder that holds it, in the
    // order of kFolders; nullopt when none does. A store that cannot be
    // reached gives a Found without a record and readError kStoreAway.
    virtual std::optional<Found> Find(const GUID& id) = 0;
    // One page of a folder, newest first. limit 0 means kDefaultPage, more
    // than kMostPerPage means kMostPerPage; cursor "" for the first page,
    // else a page's next. nullopt for a cursor no listing gave.
    virtual std::optional<Page> List(Folder folder, std::size_t limit, std::string_view cursor) = 0;
    // How many messages are queued now.
    virtual std::uint64_t CountQueued() = 0;
};

}  // namespace velmo::queue
