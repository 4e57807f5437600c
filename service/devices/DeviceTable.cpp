#include "service/devices/DeviceTable.h"

#include "platform/Text.h"

namespace velmo::devices {

DeviceTable::DeviceTable(events::EventSink& log, MessageOutcomes& outcomes, IncomingMessages& incoming,
                         std::function<void()> allRemoved)
    : log_(log), outcomes_(outcomes), incoming_(incoming), allRemoved_(std::move(allRemoved))
{}

DeviceTable::~DeviceTable()
{
    ModeLock::Hold hold(lock_, 3);
    devices_.clear();
}

HRESULT DeviceTable::Add(LONG id, std::u16string name, const CLSID& clsid, std::u16string params)
{
    if (id <= 0)
        return E_FAIL;
    ModeLock::Hold hold(lock_, 2);
    if (devices_.count(id))
        return E_FAIL;
    devices_.emplace(
        id, std::make_unique<DeviceHost>(log_, outcomes_, incoming_, id, std::move(name), clsid, std::move(params)));
    return S_OK;
}

int DeviceTable::AddRule(std::u16string_view pattern, LONG deviceId, bool continueSearch)
{
    ModeLock::Hold hold(lock_, 2);
    return router_.AddRule(pattern, deviceId, continueSearch);
}

void DeviceTable::SetDefaultDevice(LONG id)
{
    ModeLock::Hold hold(lock_, 2);
    router_.SetDefaultDevice(id);
}

LONG DeviceTable::DefaultDevice()
{
    ModeLock::Hold hold(lock_, 1);
    return router_.DefaultDevice();
}

void DeviceTable::SetChoice(routing::Router::Choice choice)
{
    ModeLock::Hold hold(lock_, 2);
    router_.SetChoice(choice);
}

void DeviceTable::SetLeaveUnmatched(bool leave)
{
    ModeLock::Hold hold(lock_, 2);
    router_.SetLeaveUnmatched(leave);
}

void DeviceTable::ForEachRule(const std::function<void(const routing::RoutingRule&)>& visit)
{
    ModeLock::Hold hold(lock_, 1);
    router_.ForEachRule(visit);
}

void DeviceTable::StartAll()
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, host] : devices_)
        (void)host->StartThread();  // a first start is always allowed
}

void DeviceTable::StopAll()
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, host] : devices_)
        host->StopThread();
}

LONG DeviceTable::WaitForEnded(HANDLE stopEvent)
{
    std::vector<HANDLE> handles{stopEvent};
    std::vector<LONG> results{-1};
    {
        ModeLock::Hold hold(lock_, 1);
        for (auto& [id, host] : devices_) {
            if (host->Thread()) {
                handles.push_back(host->Thread());
                results.push_back(id);
            }
        }
    }
    // Every device is watched: the platform's wait has no 64-handle limit.
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 + handles.size())
        return -2;
    return results[r - WAIT_OBJECT_0];
}

std::optional<DeviceTable::Restarted> DeviceTable::Restart(LONG id)
{
    DeviceHost* host = nullptr;
    {
        ModeLock::Hold hold(lock_, 1);
        auto it = devices_.find(id);
        if (it == devices_.end())
            return std::nullopt;
        host = it->second.get();
    }
    Restarted restarted;
    restarted.name = Utf16ToUtf8(host->Name());
    const bool wasWaiting = host->State() == DeviceHost::RunState::Waiting;
    if (!wasWaiting)
        log_.LogEvent(EVENTLOG_WARNING_TYPE, "Device [%s] has terminated unexpectedly. Attempting restart",
                      restarted.name.c_str());
    restarted.pending = host->TakePendingForRestart();
    restarted.running = host->StartThread();
    if (!wasWaiting && host->State() == DeviceHost::RunState::Waiting)
        log_.LogEvent(EVENTLOG_ERROR_TYPE,
                      "Device [%s] has failed restarting > %d times. It is started again every %u s until it "
                      "runs; messages for it wait in the queue",
                      restarted.name.c_str(), DeviceHost::kQuickStarts,
                      static_cast<unsigned>(DeviceHost::kWaitingRetry / 1000));
    if (!restarted.running) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE,
                      "Device [%s] cannot be restarted: no thread can be made for it. The device is removed from "
                      "dispatcher",
                      restarted.name.c_str());
        Remove(id);
    }
    return restarted;
}

void DeviceTable::Remove(LONG id)
{
    bool none = false;
    {
        ModeLock::Hold hold(lock_, 2);
        auto it = devices_.find(id);
        if (it != devices_.end())
            removed_.push_back(it->second->Name());
        devices_.erase(id);
        router_.RemoveRulesOf(id);
        none = devices_.empty();
    }
    if (none) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "All devices has been terminated. Service terminates.");
        if (allRemoved_)
            allRemoved_();
    }
}

void DeviceTable::Clear()
{
    ModeLock::Hold hold(lock_, 2);
    devices_.clear();
}

HRESULT DeviceTable::Route(const messagefile::MessageRecord& record, LONG& chosen,
                           const std::function<HRESULT(DeviceHost&)>& hand)
{
    ModeLock::Hold hold(lock_, 1);
    chosen = router_.Choose(record.To, [this](LONG id) -> std::optional<std::size_t> {
        auto it = devices_.find(id);
        if (it == devices_.end())
            return std::nullopt;
        return it->second->PendingCount();
    });
    if (chosen == routing::Router::kLeave)
        return kLeftToOthers;
    auto it = devices_.find(chosen);
    if (it == devices_.end())
        return S_FALSE;
    return hand(*it->second);
}

bool DeviceTable::AnyRoom(std::size_t ahead)
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, host] : devices_)
        if (host->PendingCount() < ahead)
            return true;
    return false;
}

std::size_t DeviceTable::Count()
{
    ModeLock::Hold hold(lock_, 1);
    return devices_.size();
}

bool DeviceTable::Has(LONG id)
{
    ModeLock::Hold hold(lock_, 1);
    return devices_.count(id) != 0;
}

void DeviceTable::ForEach(const std::function<void(DeviceHost&)>& visit)
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, device] : devices_)
        visit(*device);
}

std::vector<std::u16string> DeviceTable::Removed()
{
    ModeLock::Hold hold(lock_, 1);
    return removed_;
}

}  // namespace velmo::devices
