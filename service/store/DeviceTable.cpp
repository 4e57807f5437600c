// The dispatcher's device table: adding, starting, stopping, supervising
// and restarting the device hosts.
#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/host/ServiceModule.h"
#include "messagefile/QueueFolders.h"

#include <algorithm>

namespace velmo::store {

namespace {
constexpr DWORD kPickupStopWait = 10000;
constexpr char16_t kEndedBeforeReport[] = u"\r\nThe device ended before it reported the message";
}  // namespace

HRESULT Dispatcher::AddDevice(LONG id, std::u16string name, const CLSID& clsid, std::u16string params)
{
    if (id <= 0)
        return E_FAIL;
    ModeLock::Hold hold(lock_, 2);
    if (devices_.count(id))
        return E_FAIL;
    devices_.emplace(id, std::make_unique<host::DeviceHost>(module_, id, std::move(name), clsid, std::move(params)));
    return S_OK;
}

void Dispatcher::Start()
{
    {
        ModeLock::Hold hold(lock_, 1);
        for (auto& [id, host] : devices_)
            (void)host->StartThread();  // a first start is always allowed
    }
    running_ = true;
    accepting_ = true;
    (void)retries_.Start();  // without its thread a retry goes out at once
    pickupThread_ = Handle(CreateThread(nullptr, 0, PickupMain, this, CREATE_SUSPENDED, nullptr));
    if (pickupThread_)
        ResumeThread(pickupThread_.get());
}

void Dispatcher::Stop()
{
    running_ = false;
    accepting_ = false;
    SetEvent(pickupStop_.get());
    if (pickupThread_ && WaitForSingleObject(pickupThread_.get(), DesignWait(kPickupStopWait)) != WAIT_OBJECT_0)
        TerminateThread(pickupThread_.get(), 1);
    retries_.Stop();  // retries still held wait in out/ for the next start
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, host] : devices_)
        host->StopThread();
}

LONG Dispatcher::WaitForDevices(HANDLE stopEvent)
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

void Dispatcher::RemoveDevice(LONG id)
{
    ModeLock::Hold hold(lock_, 2);
    auto it = devices_.find(id);
    if (it != devices_.end())
        removed_.push_back(it->second->Name());
    devices_.erase(id);
    rules_.erase(std::remove_if(rules_.begin(), rules_.end(), [&](const auto& rule) { return rule->DeviceId() == id; }),
                 rules_.end());
    if (devices_.empty()) {
        module_.LogEvent(EVENTLOG_ERROR_TYPE, "All devices has been terminated. Service terminates.");
        PostThreadMessageW(module_.mainThreadId, WM_QUIT, 0, 0);
    }
}

bool Dispatcher::RestartDevice(LONG id)
{
    host::DeviceHost* host = nullptr;
    {
        ModeLock::Hold hold(lock_, 1);
        auto it = devices_.find(id);
        if (it == devices_.end())
            return false;
        host = it->second.get();
    }
    std::string name = Utf16ToUtf8(host->Name());
    module_.LogEvent(EVENTLOG_WARNING_TYPE, "Device [%s] has terminated unexpectedly. Attempting restart",
                     name.c_str());
    std::vector<host::DeviceHost::Pending> pending = host->TakePendingForRestart();
    // The dead device will never report these; each is counted afresh when
    // it is dispatched again.
    for (std::size_t i = 0; i < pending.size(); ++i)
        TakeBackInFlight();

    bool running = host->StartThread();
    if (!running) {
        module_.LogEvent(
            EVENTLOG_ERROR_TYPE,
            "Device [%s] has failed restarting > %d times. The device is shutdown and removed from dispatcher",
            name.c_str(), host::DeviceHost::kQuickStarts);
        RemoveDevice(id);
    }
    for (const host::DeviceHost::Pending& message : pending) {
        std::u16string file = MessageFileName(message.id);
        std::u16string path = Folder(kOutFolder) + file;
        RecordPtr record = LoadOrQuarantine(path, file);
        if (!record)
            continue;
        HRESULT hr = message.handedOut ? Settle(record.get(), path, file, SEND_RETRY, kEndedBeforeReport, name)
                                       : Dispatch(record.get());
        if (FAILED(hr))
            break;  // the rest wait in out/ for the next start
    }
    return running;
}

std::vector<std::u16string> Dispatcher::RemovedDevices()
{
    ModeLock::Hold hold(lock_, 1);
    return removed_;
}

void Dispatcher::ClearDevices()
{
    ModeLock::Hold hold(lock_, 2);
    devices_.clear();
}

std::size_t Dispatcher::DeviceCount()
{
    ModeLock::Hold hold(lock_, 1);
    return devices_.size();
}

bool Dispatcher::HasDevice(LONG id)
{
    ModeLock::Hold hold(lock_, 1);
    return devices_.count(id) != 0;
}

void Dispatcher::ForEachDevice(const std::function<void(host::DeviceHost&)>& visit)
{
    ModeLock::Hold hold(lock_, 1);
    for (auto& [id, device] : devices_)
        visit(*device);
}

}  // namespace velmo::store
