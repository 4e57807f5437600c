// The device table: every configured device's host by id (ids greater
// than 0, visited in ascending id), the routing rules that choose among
// them, and the devices that had to be removed.
//
// The table and the rules are guarded by the ModeLock: mode 1 for visits
// and routing (many at once), mode 2 for changes, mode 3 for destruction.
// No lock is held across a call into a device; a host's own lock guards its
// queue. The supervising thread (the service worker) alone starts, waits
// for and restarts the hosts.
#pragma once

#include "service/devices/DeviceHost.h"
#include "service/devices/ModeLock.h"
#include "service/events/EventSink.h"
#include "service/routing/Router.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmo::devices {

// A success that hands nothing over: the message stays queued in a shared
// store for another host to take.
inline constexpr HRESULT kLeftToOthers = 2;

class DeviceTable {
public:
    // log, outcomes and incoming are handed to every host and must outlive
    // the table; allRemoved runs (on the supervising thread) when the
    // last device has been removed.
    DeviceTable(events::EventSink& log, MessageOutcomes& outcomes, IncomingMessages& incoming,
                std::function<void()> allRemoved);
    ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // --- what the configuration adds ---
    // E_FAIL for an id of 0 or less or one already in the table.
    HRESULT Add(LONG id, std::u16string name, const CLSID& clsid, std::u16string params);
    // 0, or the non-zero code of regcompW (the rule is not added then).
    int AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch);
    void SetDefaultDevice(LONG id);
    LONG DefaultDevice();
    void SetChoice(routing::Router::Choice choice);
    // Router::SetLeaveUnmatched.
    void SetLeaveUnmatched(bool leave);
    void ForEachRule(const std::function<void(const routing::RoutingRule&)>& visit);

    // --- supervision ---
    // Starts every device's thread (a first start is always allowed).
    void StartAll();
    // Stops every device in ascending id, each without a time limit.
    void StopAll();
    // -1 for the stop event, -2 for a failed wait, else the id of a device
    // whose thread has ended.
    LONG WaitForEnded(HANDLE stopEvent);
    struct Restarted {
        bool running = false;                      // the device runs again
        std::vector<DeviceHost::Pending> pending;  // what its host held, in ascending id
        std::string name;
    };
    // Restarts an ended device under the restart rule, after taking the
    // messages its host held; a device no thread can be made for leaves
    // the table (logged). nullopt when no device has that id.
    std::optional<Restarted> Restart(LONG id);
    void Clear();

    // --- routing ---
    // Chooses the device for the record's recipient and, under the same
    // hold, returns hand(that device's host). S_FALSE, with chosen set, when
    // the table holds no device of the chosen id; kLeftToOthers when the
    // rules leave the recipient to other hosts.
    HRESULT Route(const messagefile::MessageRecord& record, LONG& chosen,
                  const std::function<HRESULT(DeviceHost&)>& hand);

    // --- visits ---
    std::size_t Count();
    // Whether some device has fewer than `ahead` messages pending.
    bool AnyRoom(std::size_t ahead);
    bool Has(LONG id);
    // Visits every host in ascending id under mode 1.
    void ForEach(const std::function<void(DeviceHost&)>& visit);
    // The names of the devices removed, in order of removal.
    std::vector<std::u16string> Removed();

private:
    void Remove(LONG id);

    events::EventSink& log_;
    MessageOutcomes& outcomes_;
    IncomingMessages& incoming_;
    std::function<void()> allRemoved_;
    ModeLock lock_;
    std::map<LONG, std::unique_ptr<DeviceHost>> devices_;
    routing::Router router_;
    std::vector<std::u16string> removed_;
};

}  // namespace velmo::devices
