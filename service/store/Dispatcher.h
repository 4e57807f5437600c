// The dispatcher: the device table, the routing rules and the limits of
// the outgoing queue.
//
// The device table maps ids greater than 0 to their hosts and is visited in
// ascending id; the rule list keeps the order in which rules were added.
// Both are guarded by the ModeLock: mode 1 for visits, mode 2 for changes.
#pragma once

#include "service/host/DeviceHost.h"
#include "service/store/ModeLock.h"
#include "service/store/RoutingRule.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace velmo::store {

class Dispatcher {
public:
    // E_FAIL for an id of 0 or less or one already in the table; S_OK
    // when the host was created and inserted.
    HRESULT AddDevice(LONG id, std::u16string name, const CLSID& clsid, std::u16string params);
    void ClearDevices();
    std::size_t DeviceCount();
    // Visits every host in ascending id under mode 1.
    void ForEachDevice(const std::function<void(host::DeviceHost&)>& visit);

    // Compiles the pattern and appends the rule under mode 2; returns 0, or
    // the non-zero code of regcompW when the pattern does not compile (the
    // rule is not added then).
    int AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch);
    void SetDefaultDevice(LONG id) { defaultDevice_ = id; }
    LONG DefaultDevice() const { return defaultDevice_; }
    // Visits every rule in order under mode 1.
    void ForEachRule(const std::function<void(const RoutingRule&)>& visit);

    LONG queueMax = 0;  // most messages in flight; 0 or less: no limit
    LONG retryMax = 0;  // most retries of one message; 0 or less: no limit

private:
    ModeLock lock_;
    std::map<LONG, std::unique_ptr<host::DeviceHost>> devices_;
    std::vector<std::unique_ptr<RoutingRule>> rules_;
    LONG defaultDevice_ = 0;
};

} // namespace velmo::store
