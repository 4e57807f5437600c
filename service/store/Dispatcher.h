// The dispatcher: every outgoing message passes through it.
//
// The folder out/ under the root is the queue: a message waits exactly as
// long as its file stands there, and whatever stands there at start is
// dispatched again. The dispatcher routes each message to one device host,
// moves finished messages to out/sent/ or out/failed/, puts retries back,
// takes message files dropped into pickup/ every 30 s, and moves files that
// cannot be read to bad/ (never deleting them).
//
// The device table (ids greater than 0, visited in ascending id) and the
// rule list are guarded by the ModeLock: mode 1 for visits and dispatching,
// mode 2 for changes, mode 3 for destruction. The in-flight count is
// atomic; a message counts from its hand-off until its report, and a
// hand-off that fails is taken back out. With a queue maximum greater than
// 0, the accepting flag is cleared while the count is at or above it.
#pragma once

#include "interfaces/VelmoLib.h"
#include "service/host/DeviceHost.h"
#include "messagefile/MessageRecord.h"
#include "service/store/ModeLock.h"
#include "service/store/RetryQueue.h"
#include "service/store/RoutingRule.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace velmo::host {
class ServiceModule;
}

namespace velmo::store {

class Dispatcher {
public:
    explicit Dispatcher(host::ServiceModule& module);
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // --- device table ---
    // E_FAIL for an id of 0 or less or one already in the table.
    HRESULT AddDevice(LONG id, std::u16string name, const CLSID& clsid, std::u16string params);
    // Starts every device thread, sets the accepting flag, starts the pickup watcher.
    void Start();
    // Clears the accepting flag, stops the pickup watcher (10 s), then every
    // device in ascending id, each without a time limit.
    void Stop();
    // -1 for the stop event, -2 for a failed wait, else the id of a device
    // whose thread has ended.
    LONG WaitForDevices(HANDLE stopEvent);
    // Restarts an ended device under the restart rule and re-dispatches its
    // pending messages; those the device had been handed count as a retry,
    // so the retry maximum bounds a message that a device keeps dying on.
    // True when the device runs again.
    bool RestartDevice(LONG id);
    void ClearDevices();
    std::size_t DeviceCount();
    bool HasDevice(LONG id);
    // Visits every host in ascending id under mode 1.
    void ForEachDevice(const std::function<void(host::DeviceHost&)>& visit);
    // The names of the devices the restart rule removed, in order of removal.
    std::vector<std::u16string> RemovedDevices();

    // --- routing ---
    // 0, or the non-zero code of regcompW (the rule is not added then).
    int AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch);
    void SetDefaultDevice(LONG id) { defaultDevice_ = id; }
    LONG DefaultDevice() const { return defaultDevice_; }
    void ForEachRule(const std::function<void(const RoutingRule&)>& visit);
    // The device for a recipient: the rules' candidates (among several, one
    // picked at random, or among those with the fewest messages waiting
    // when choice says so), else the default. Caller holds mode 1.
    LONG ChooseDevice(const Bstr& to) const;
    enum class Choice { Random, FewestWaiting };
    Choice choice = Choice::Random;  // set by the configuration before Start

    // --- messages ---
    // A new message: saved to out/ and dispatched; E_FAIL when not accepting.
    HRESULT QueueMessage(const Bstr& to, const Bstr& body, GUID* id);
    // The same for a message object: To and Body through its getters.
    HRESULT QueueMessage(IVelmo* message, GUID* id);
    HRESULT Dispatch(MessageRecord* record);
    void CompleteMessage(const std::u16string& device, const GUID& id, LONG result, BSTR statusText);
    // Dispatches the files waiting in out/; the count of files handled.
    int LoadStoredMessages();
    // The message in out/, out/sent/ or out/failed/; null when none.
    RecordPtr FindMessage(const GUID& id);
    // One scan of pickup/ (the pickup watcher runs it every 30 s).
    void ScanPickup();

    bool Accepting() const { return accepting_; }
    LONG InFlight() const { return inFlight_; }

    LONG queueMax = 0;  // most messages in flight; 0 or less: no limit
    LONG retryMax = 0;  // most retries of one message; 0 or less: no limit

private:
    static DWORD PickupMain(void* self);
    void CountInFlight();
    void TakeBackInFlight();
    std::u16string Folder(const char16_t* relative) const;
    void MoveToBad(const std::u16string& path, const std::u16string& name);
    // The record in the file, or null after logging the failure; a damaged
    // file is moved to bad/, one that could not be read (an I/O error) stays
    // where it is for a later read.
    RecordPtr LoadOrQuarantine(const std::u16string& path, const std::u16string& name);
    void RemoveDevice(LONG id);
    // Saves a new message as out/{ID}.velmo durably; on failure logs it and
    // leaves no queue copy behind.
    HRESULT SaveQueued(MessageRecord* record);
    // Makes the record's id and its out/ file's name agree (logged): a name
    // that is an id gives the record its id, any other name becomes the
    // record's id; path follows a rename.
    void MatchIdToName(MessageRecord* record, std::u16string& path, const std::u16string& name);
    // Removes the temporary files a crash left in the folders the service
    // writes; how many there were.
    int RemoveLeftovers();
    // The end of one attempt at sending a message loaded from path, with
    // statusText appended to its status text: a retry within the retry
    // maximum is saved with one more retry and dispatched again (that
    // Dispatch's result), anything else is finished into out/sent/ or
    // out/failed/ (S_OK; a finished copy that cannot be saved leaves the
    // queue copy for the next start).
    // device names the device that reported (empty: none), for the audit trail.
    HRESULT Settle(MessageRecord* record, const std::u16string& path, const std::u16string& name, LONG result,
                   std::u16string_view statusText, const std::string& device);
    void RecoverClaims(const std::u16string& pickup);

    host::ServiceModule& module_;
    ModeLock lock_;
    std::map<LONG, std::unique_ptr<host::DeviceHost>> devices_;
    std::vector<std::unique_ptr<RoutingRule>> rules_;
    std::vector<std::u16string> removed_;
    LONG defaultDevice_ = 0;
    // Seeded once, before anything is dispatched; dispatching threads share it.
    mutable std::mutex randomLock_;
    mutable std::mt19937 random_{std::random_device{}()};
    std::atomic<LONG> inFlight_{0};
    std::atomic<bool> accepting_{false};
    std::atomic<bool> running_{false};  // between Start and Stop: reports may reopen accepting
    RetryQueue retries_;
    Handle pickupThread_;
    Handle pickupStop_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

}  // namespace velmo::store
