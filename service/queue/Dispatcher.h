// The dispatcher: every outgoing message passes through it.
//
//   client (bus, gateway, handler reply) -> QueueMessage ---+
//   pickup/ -> PickupWatcher -------------------------------+-> store.Accept
//   start -> LoadStoredMessages -> store.Recover -----------+
//        -> Dispatch -> DeviceTable::Route -> DeviceHost queue -> device
//   device -> CompleteMessage -> Settle -> store.Finish (sent/failed)
//                                       -> store.SaveRetry -> RetryQueue -> Dispatch
//
// A message waits in the queue store exactly as long as it is not finished,
// and whatever is queued at start is dispatched again. The dispatcher keeps
// what is in flight in memory only: a message counts from its hand-off to a
// device until the device reports it (or a retry's pause ends). With a queue maximum greater than
// 0, no new message is accepted while the count is at or above it. The
// in-flight count and the accepting flag are atomic; the device table has
// its own lock, and no lock is held across a call into the store. A
// message refused by a full device queue stays counted and waits in the
// RoomQueue (dispatched -> refused -> RoomQueue -> a device reports ->
// handed over), never until the next start.
#pragma once

#include "interfaces/VelmoLib.h"
#include "messagefile/MessageRecord.h"
#include "service/devices/DeviceTable.h"
#include "service/events/EventSink.h"
#include "service/queue/DeliveryRecords.h"
#include "service/queue/HandedRecords.h"
#include "service/queue/MessageIntake.h"
#include "service/queue/PickupWatcher.h"
#include "service/queue/QueueStore.h"
#include "service/queue/RetryQueue.h"
#include "service/queue/RoomQueue.h"

#include <atomic>
#include <mutex>
#include <functional>
#include <string>

namespace velmo::queue {

class Dispatcher final : public MessageIntake, public devices::MessageOutcomes {
public:
    // root: the installation root (pickup/ and bad/ lie under it). log,
    // store and incoming must outlive the dispatcher; stopService runs when
    // the service has no device left and must stop.
    Dispatcher(events::EventSink& log, QueueStore& store, devices::IncomingMessages& incoming, std::u16string root,
               std::function<void()> stopService);
    ~Dispatcher() override;
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // The devices and the rules that choose among them.
    devices::DeviceTable& Devices() { return devices_; }

    // Starts every device thread, sets the accepting flag, starts the
    // retry queue and the pickup watcher.
    void Start();
    // Clears the accepting flag, stops the pickup watcher (10 s), drops the
    // retries held (they wait in the queue for the next start), then stops
    // every device in ascending id, each without a time limit.
    void Stop();
    // -1 for the stop event, -2 for a failed wait, else the id of a device
    // whose thread has ended.
    LONG WaitForDevices(HANDLE stopEvent) { return devices_.WaitForEnded(stopEvent); }
    // Restarts an ended device under the restart rule and dispatches its
    // pending messages again; those the device had been handed count as a
    // retry, so the retry maximum bounds a message that a device keeps
    // dying on. True when the device runs again.
    bool RestartDevice(LONG id);

    // MessageIntake: E_FAIL while not accepting.
    HRESULT QueueMessage(const Bstr& to, const Bstr& body, GUID* id) override;
    HRESULT QueueExpiring(const Bstr& to, const Bstr& body, std::uint32_t expireAfter, GUID* id) override;
    // Hands a queued message to the device its recipient's rules choose,
    // or, when that device's queue is full, lets it wait for room (it is
    // handed over, oldest first, as devices report messages); a message no
    // device in the table takes is failed. S_OK every way.
    HRESULT Dispatch(messagefile::MessageRecord* record);
    // With a shared store: takes queued messages no host holds for this
    // host's devices while they have room, oldest first, leaving those its
    // rules leave to other hosts. Runs on any thread; a call while another
    // runs makes that one look again instead.
    void ClaimShared();
    // With a shared store: the messages this host's devices hold now, whose
    // leases the store keeps (none otherwise).
    std::vector<GUID> HeldIds() { return handed_.Ids(); }
    // How many messages wait for room in a device's queue now.
    std::size_t WaitingForRoom() const { return rooms_.Size(); }
    // MessageOutcomes.
    void CompleteMessage(const std::u16string& device, const GUID& id, LONG result, BSTR statusText) override;
    // "Expired after DURATION in the queue: not sent" for a message older
    // than its expiry (its own, or queueExpire, whichever is shorter).
    std::u16string ExpiryOf(const messagefile::MessageRecord& record) override;
    HRESULT RecordDelivery(const std::u16string& device, const GUID& id, LONG state, BSTR statusText,
                           const SYSTEMTIME* accepted, const SYSTEMTIME* discharged) override;
    // Dispatches what is queued at start; the count of entries handled.
    int LoadStoredMessages();
    // One scan of pickup/ (the pickup watcher runs it every 30 s).
    void ScanPickup() { pickup_.Scan(); }

    bool Accepting() const { return accepting_; }
    // Whether a new message is taken now: accepting, and with a shared
    // store fewer than queueMax messages queued over every host.
    bool HasRoom();
    LONG InFlight() const { return inFlight_; }

    LONG queueMax = 0;                          // most messages in flight; 0 or less: no limit
    LONG retryMax = 0;                          // most retries of one message; 0 or less: no limit
    std::atomic<std::uint32_t> queueExpire{0};  // seconds a message may wait in the queue; 0: no limit
    // The store is shared with other hosts (set before Start): a device is
    // handed at most kSharedAhead messages at a time, the rest stay in the
    // store for whichever host's device has room; the queue maximum counts
    // the store's queued messages over every host.
    bool shared = false;
    static constexpr std::size_t kSharedAhead = 2;

private:
    void CountInFlight();
    // The record of a message a device reports or gave back: the one it
    // was handed (shared store), else the store's queued copy; null when
    // neither is there.
    messagefile::RecordPtr ReportedRecord(const GUID& id);
    void TakeBackInFlight();
    // Routes the record and hands it to the chosen device: S_OK handed,
    // S_FALSE no such device, devices::kLeftToOthers when it stays in a
    // shared store for another host (no rule of this host matches, another
    // host holds it, or the device has its share already), a failure when
    // the store or the device refused it.
    HRESULT HandOver(messagefile::MessageRecord& record, LONG& chosen);
    // Fails a message whose chosen device is not in the table; S_OK.
    HRESULT FailWithoutDevice(messagefile::MessageRecord* record, LONG chosen);
    // Hands the messages that wait for room to devices while they take them.
    void TakeWaiting();
    // The end of one attempt at sending a message, with statusText appended
    // to its status text: a retry within the retry maximum is kept queued
    // with one more retry and held for a pause before it is dispatched
    // again, anything else is finished as sent or failed. device names the
    // device that reported (empty: none), for the audit trail. S_OK; a
    // finished copy that cannot be stored leaves it queued for the next
    // start.
    HRESULT Settle(messagefile::MessageRecord* record, LONG result, std::u16string_view statusText,
                   const std::string& device);

    events::EventSink& log_;
    QueueStore& store_;
    std::function<void()> stopService_;
    std::atomic<LONG> inFlight_{0};
    std::atomic<bool> accepting_{false};
    std::atomic<bool> running_{false};  // between Start and Stop: reports may reopen accepting
    devices::DeviceTable devices_;
    RetryQueue retries_;
    RoomQueue rooms_;
    PickupWatcher pickup_;
    std::mutex claiming_;
    std::atomic<bool> claimAgain_{false};
    DeliveryRecords deliveries_;
    HandedRecords handed_;  // with a shared store only
};

}  // namespace velmo::queue
