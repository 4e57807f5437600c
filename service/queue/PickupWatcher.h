// The pickup watcher: every 30 s, message files that other programs dropped
// into pickup/ under the root become new outgoing messages.
//
// A pickup file is claimed before it is queued: renamed to "{ID}.claimed"
// in pickup/ (and pickup/ synced, so the claim lasts before any queued copy
// exists), then accepted into the queue store, then the claim is removed
// (and pickup/ synced). A crash at any point leaves either the claim alone
// (queued again under the same id at the next scan) or the claim and the
// queued message (the claim is just removed), so no message is lost and
// none is queued twice. A file another program still holds open for
// writing is left for a later scan; a damaged one, a link, anything that
// is not a regular file and a message that breaks the rules of a new
// message (messagefile/MessageRules.h) go to bad/, with an event naming
// why. While the queue is full, files wait in pickup/.
//
// One thread, started by Start, scans; Scan may also be called directly
// (not at the same time as the thread).
#pragma once

#include "messagefile/MessageRecord.h"
#include "service/events/EventSink.h"
#include "service/queue/QueueStore.h"

#include <functional>
#include <string>

namespace velmo::queue {

class PickupWatcher {
public:
    // The message was accepted into the store; hand it on. A failure
    // takes it back: it leaves the store and its file goes back to pickup/.
    using HandOn = std::function<HRESULT(messagefile::MessageRecord*)>;

    // Whether the queue takes one more message now.
    using HasRoom = std::function<bool()>;

    // root: the installation root, ending in "/". log, store and handOn
    // must outlive the watcher. eachScan, when given, runs on the thread
    // after every timed scan (the dispatcher's second look at what waits).
    PickupWatcher(events::EventSink& log, std::u16string root, QueueStore& store, HandOn handOn, HasRoom hasRoom,
                  std::function<void()> eachScan = {});
    ~PickupWatcher();
    PickupWatcher(const PickupWatcher&) = delete;
    PickupWatcher& operator=(const PickupWatcher&) = delete;

    // Starts the thread that scans every 30 s.
    void Start();
    // Stops it, waiting up to 10 s before abandoning it.
    void Stop();
    // One scan of pickup/: the claims a crash left first, then new files.
    void Scan();

private:
    static DWORD ThreadMain(void* self);
    void RecoverClaims(const std::u16string& pickup);
    // Accepts a record read from pickup/ into the store and hands it on;
    // false when either failed (the store then holds no copy).
    bool Queue(messagefile::MessageRecord* record);
    // Normalises the recipient of a record read from pickup/; false after
    // moving the file at path (named name) to bad/ with an event when the
    // record breaks a rule.
    bool KeepsTheRules(messagefile::MessageRecord& record, const std::u16string& path, const std::u16string& name);
    // Whether the queue has room; says once per full spell that files wait.
    bool Room();

    events::EventSink& log_;
    const std::u16string root_;
    QueueStore& store_;
    HandOn handOn_;
    HasRoom hasRoom_;
    std::function<void()> eachScan_;
    bool full_ = false;  // the last look found the queue full (and said so)
    Handle thread_;
    Handle stop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

}  // namespace velmo::queue
