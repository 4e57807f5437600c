#include "service/devices/DeviceHost.h"

#include "service/events/MessageEvents.h"

#include "platform/Activation.h"
#include "platform/Text.h"
#include "platform/SystemTime.h"
#include "platform/Timing.h"

#include <algorithm>
#include <cstdio>

namespace velmo::devices {

namespace {

constexpr DWORD kQuickStartWindow = 60000;

std::mutex g_clockLock;
std::function<std::int64_t()> g_clock = SteadyMs;

std::atomic<LONG> g_queueLimit = DeviceHost::kQueueLimit;

std::int64_t Now()
{
    std::lock_guard lock(g_clockLock);
    return g_clock();
}

HANDLE NewSemaphore() { return CreateSemaphoreW(nullptr, 0, DeviceHost::kQueueLimit, nullptr); }

}  // namespace

void DeviceHost::SetQueueLimit(LONG limit) { g_queueLimit = limit >= 1 && limit <= kQueueLimit ? limit : kQueueLimit; }

void DeviceHost::SetClock(std::function<std::int64_t()> clock)
{
    std::lock_guard lock(g_clockLock);
    g_clock = clock ? std::move(clock) : SteadyMs;
}

DeviceHost::DeviceHost(events::EventSink& log, MessageOutcomes& outcomes, IncomingMessages& incoming, LONG id,
                       std::u16string name, const CLSID& clsid, std::u16string params)
    : log_(log), outcomes_(outcomes), incoming_(incoming), id_(id), name_(std::move(name)), clsid_(clsid),
      params_(std::move(params)), semaphore_(NewSemaphore())
{}

DeviceHost::~DeviceHost() = default;

HRESULT DeviceHost::Enqueue(messagefile::MessageRecord* record)
{
    std::lock_guard lock(lock_);
    if (queueCount_ >= g_queueLimit.load())
        return E_FAIL;
    pending_.insert(record->Id);
    queue_.push_back(messagefile::RecordPtr(record));
    ++queueCount_;
    // Released under the lock, so a restart that replaces the semaphore
    // never receives a count for a message it has already taken away.
    ReleaseSemaphore(semaphore_.get(), 1, nullptr);
    return S_OK;
}

bool DeviceHost::StartThread()
{
    std::int64_t now = Now();
    if (started_ && now - lastStart_ <= static_cast<std::int64_t>(DesignWait(kQuickStartWindow)))
        ++startCount_;
    else
        startCount_ = 1;
    bool first = !started_;
    started_ = true;
    lastStart_ = now;
    if (startCount_ > kQuickStarts)
        waiting_ = true;
    if (first)
        pause_ = 0;
    else if (waiting_)
        pause_ = DesignWait(kWaitingRetry);
    else
        pause_ = DesignWait(std::min(kRestartPause << (startCount_ - 1), kRestartPauseCap));
    if (!first)
        runState_ = waiting_ ? RunState::Waiting : RunState::Restarting;
    {
        std::lock_guard lock(lock_);
        nextTry_ = pause_ ? WallClockMs() + pause_ : 0;
    }
    thread_ = Handle(CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    return static_cast<bool>(thread_);
}

void DeviceHost::StopThread()
{
    SetEvent(stop_.get());
    if (thread_)
        WaitForSingleObject(thread_.get(), INFINITE);
}

std::vector<DeviceHost::Pending> DeviceHost::TakePendingForRestart()
{
    std::lock_guard lock(lock_);
    std::set<GUID, GuidByteLess> queued;
    for (const messagefile::RecordPtr& r : queue_)
        queued.insert(r->Id);
    std::vector<Pending> ids;
    for (const GUID& id : pending_)
        ids.push_back({id, queued.count(id) == 0});
    queue_.clear();
    queueCount_ = 0;
    pending_.clear();
    semaphore_ = Handle(NewSemaphore());
    return ids;
}

std::size_t DeviceHost::PendingCount()
{
    std::lock_guard lock(lock_);
    return pending_.size();
}

std::size_t DeviceHost::QueuedCount()
{
    std::lock_guard lock(lock_);
    return queue_.size();
}

HRESULT DeviceHost::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IVelmo_Q || iid == IID_IVelmo_Q2 || iid == IID_IVelmo_Q3) {
        *out = static_cast<IVelmo_Q3*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOTIMPL;
}

HRESULT DeviceHost::WaitForMsg(HANDLE hEvent, LONG* reason, GUID* msgId, BSTR* to, BSTR* body)
{
    if (!reason)
        return E_POINTER;
    *reason = WAKE_NONE;
    HANDLE semaphore;
    {
        std::lock_guard lock(lock_);
        semaphore = semaphore_.get();
    }
    HANDLE waits[3] = {stop_.get(), semaphore, hEvent};
    DWORD r = WaitForMultipleObjects(hEvent ? 3 : 2, waits, FALSE, INFINITE);
    while (r == WAIT_OBJECT_0 + 1) {
        messagefile::RecordPtr record;
        {
            std::lock_guard lock(lock_);
            if (queue_.empty())
                return E_FAIL;
            record = std::move(queue_.front());
            queue_.pop_front();
            --queueCount_;
        }
        if (std::u16string expired = outcomes_.ExpiryOf(*record); !expired.empty()) {
            // Too old to go: failed here, never handed to the device.
            (void)ReportMsgResult(record->Id, 0, SEND_FAILED, Bstr(expired).get());  // S_OK always
            r = WaitForMultipleObjects(hEvent ? 3 : 2, waits, FALSE, INFINITE);
            continue;
        }
        if (msgId)
            *msgId = record->Id;
        if (to)
            *to = record->To.Copy();
        if (body)
            *body = record->Body.Copy();
        *reason = WAKE_MESSAGE;
        return S_OK;
    }
    if (r == WAIT_OBJECT_0 + 2) {
        *reason = WAKE_EVENT;
        return S_OK;
    }
    return E_FAIL;  // the stop event or a failed wait
}

HRESULT DeviceHost::ReportMsgResult(GUID msgId, LONG, LONG result, BSTR statusText)
{
    {
        std::lock_guard lock(lock_);
        pending_.erase(msgId);
    }
    outcomes_.CompleteMessage(name_, msgId, result, statusText);
    return S_OK;
}

HRESULT DeviceHost::ReportIncomingMsg(LONG, BSTR from, BSTR body) { return ReportIncomingMsgEx(from, body, nullptr); }

HRESULT DeviceHost::ReportDelivery(GUID msgId, LONG state, BSTR statusText, const SYSTEMTIME* accepted,
                                   const SYSTEMTIME* discharged)
{
    return outcomes_.RecordDelivery(name_, msgId, state, statusText, accepted, discharged);
}

HRESULT DeviceHost::ReportIncomingMsgEx(BSTR from, BSTR body, BSTR statusText)
{
    auto copy = [](BSTR s) { return Bstr::Attach(s ? SysAllocStringLen(s, SysStringLen(s)) : nullptr); };
    messagefile::RecordPtr record = messagefile::MessageRecord::New();
    record->Initialise();
    record->From = copy(from);
    record->Body = copy(body);
    record->StatusText = copy(statusText);
    record->Status = RECEIVED;
    GetSystemTime(&record->Received);
    HRESULT hr = incoming_.StoreIncoming(record.get());
    if (SUCCEEDED(hr))
        events::Announce(
            {events::AuditKind::Received, record->Id, Utf16ToUtf8(record->From.str()), {}, Utf16ToUtf8(name_), {}});
    return hr;
}

HRESULT DeviceHost::GetModemState(LONG* signal, LONG* registration, BSTR* operatorName)
{
    ComPtr<IVelmoDeviceState> state;
    {
        std::lock_guard lock(lock_);
        state = state_;
    }
    if (!state)
        return E_NOTIMPL;
    return state->GetModemState(signal, registration, operatorName);
}

DeviceHost::Health DeviceHost::GetHealth()
{
    std::lock_guard lock(lock_);
    return {runState_.load(), lastError_, nextTry_, failedStarts_};
}

std::string DeviceHost::ModemInfo()
{
    std::lock_guard lock(lock_);
    return info_;
}

void DeviceHost::SetStateSource(IVelmoDevice* device)
{
    ComPtr<IVelmoDeviceState> state;
    if (device && FAILED(device->QueryInterface(IID_IVelmoDeviceState, state.ReceiveVoid())))
        state = nullptr;  // a device without it tells nothing of its radio
    std::string info;
    ComPtr<IVelmoDeviceInfo> infoSource;
    Bstr lines;
    if (device && SUCCEEDED(device->QueryInterface(IID_IVelmoDeviceInfo, infoSource.ReceiveVoid())) &&
        SUCCEEDED(infoSource->GetModemInfo(lines.Receive())) && !lines.IsNull())
        info = Utf16ToUtf8(lines.str());
    bool cameBack = false;
    int failed = 0;
    {
        std::lock_guard lock(lock_);
        state_ = std::move(state);
        if (device) {
            info_ = std::move(info);
            cameBack = waiting_.exchange(false);
            failed = failedStarts_;
            failedStarts_ = 0;
            lastError_.clear();
            nextTry_ = 0;
        }
    }
    runState_ = device ? RunState::Running : RunState::Restarting;
    if (cameBack)
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE, "Device [%s] runs again after %d failed starts",
                      Utf16ToUtf8(name_).c_str(), failed);
}

void DeviceHost::Failed(const std::string& text)
{
    bool repeat;
    {
        std::lock_guard lock(lock_);
        repeat = waiting_ && text == lastError_;
        lastError_ = text;
    }
    if (!repeat)
        log_.Report(EVENTLOG_ERROR_TYPE, text);
}

DWORD DeviceHost::ThreadMain(void* self) { return static_cast<DeviceHost*>(self)->DeviceThread(); }

DWORD DeviceHost::DeviceThread()
{
    if (pause_ && WaitForSingleObject(stop_.get(), pause_) == WAIT_OBJECT_0)
        return 0;                                             // stopped during the pause: no device to create
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // bookkeeping only; cannot fail here
    bool ran = false;
    HRESULT last = CreateAndRun(ran);
    if (!ran) {
        std::lock_guard lock(lock_);
        ++failedStarts_;
    }
    CoUninitialize();
    return static_cast<DWORD>(last);
}

HRESULT DeviceHost::CreateAndRun(bool& ran)
{
    char call[300];
    std::string name = Utf16ToUtf8(name_);
    ComPtr<IVelmoDevice> device;
    HRESULT hr = CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, IID_IVelmoDevice, device.ReceiveVoid());
    if (FAILED(hr)) {
        std::snprintf(call, sizeof call, "Device [%s]: its class %s cannot be created (0x%08X)", name.c_str(),
                      GuidToUtf8(clsid_).c_str(), static_cast<unsigned>(hr));
        Failed(call);
        return hr;
    }
    ComPtr<IPersistXMLParam> persist;
    hr = device->QueryInterface(IID_IPersistXMLParam, persist.ReceiveVoid());
    if (FAILED(hr)) {
        std::snprintf(call, sizeof call, "Device [%s]: its class %s has no IPersistXMLParam (0x%08X)", name.c_str(),
                      GuidToUtf8(clsid_).c_str(), static_cast<unsigned>(hr));
        Failed(call);
        return hr;
    }
    Bstr params(params_);
    hr = persist->Load(params.get());
    if (FAILED(hr)) {
        Failed(events::CallFailureText(hr, persist.get(), "%s::Load", name.c_str()));
        return hr;
    }
    persist = nullptr;
    Bstr deviceName(name_);
    hr = device->Open(deviceName.get());
    if (FAILED(hr)) {
        Failed(events::CallFailureText(hr, device.get(), "%s::Open", name.c_str()));
        return hr;
    }
    ran = true;
    SetStateSource(device.get());
    AddRef();
    hr = device->Run(this);
    if (FAILED(hr))
        Failed(events::CallFailureText(hr, device.get(), "%s::Run", name.c_str()));
    Release();
    SetStateSource(nullptr);
    (void)device->Close();  // its result is not looked at
    return hr;
}

}  // namespace velmo::devices
