#include "service/queue/Dispatcher.h"

#include "messagefile/Duration.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/events/MessageEvents.h"
#include "service/queue/StatusText.h"

namespace velmo::queue {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

constexpr char16_t kTooManyRetries[] = u"\r\nAttempted too many retries";
constexpr char16_t kEndedBeforeReport[] = u"\r\nThe device ended before it reported the message";
constexpr DWORD kRetryPause = 1000;
// A claim looks at this many unclaimed messages at a time, and at most
// kClaimScan in one wake.
constexpr std::size_t kClaimBatch = 100;
constexpr std::size_t kClaimScan = 1000;

}  // namespace

Dispatcher::Dispatcher(events::EventSink& log, QueueStore& store, devices::IncomingMessages& incoming,
                       std::u16string root, std::function<void()> stopService)
    : log_(log), store_(store), stopService_(std::move(stopService)), devices_(log, *this, incoming,
                                                                               [this] {
                                                                                   if (stopService_)
                                                                                       stopService_();
                                                                               }),
      retries_(
          [this](MessageRecord* record) {
              TakeBackInFlight();
              (void)Dispatch(record);  // not handed on: it waits in the queue for the next start
          },
          [this](MessageRecord*) { TakeBackInFlight(); }),
      pickup_(
          log, std::move(root), store, [this](MessageRecord* record) { return Dispatch(record); },
          [this] { return HasRoom(); }, [this] { TakeWaiting(); }),
      deliveries_(log, store)
{}

Dispatcher::~Dispatcher()
{
    pickup_.Stop();
    retries_.Stop();
}

void Dispatcher::Start()
{
    devices_.StartAll();
    running_ = true;
    accepting_ = true;
    (void)retries_.Start();  // without its thread a retry goes out at once
    pickup_.Start();
}

void Dispatcher::Stop()
{
    running_ = false;
    accepting_ = false;
    pickup_.Stop();
    retries_.Stop();
    devices_.StopAll();
}

bool Dispatcher::HasRoom()
{
    if (!accepting_)
        return false;
    // In a shared store the maximum holds over every host's queued messages.
    return !shared || queueMax <= 0 || store_.CountQueued() < static_cast<std::uint64_t>(queueMax);
}

void Dispatcher::CountInFlight()
{
    LONG n = ++inFlight_;
    if (queueMax > 0 && n >= queueMax && !shared)
        accepting_ = false;
}

void Dispatcher::TakeBackInFlight()
{
    LONG n = --inFlight_;
    if (queueMax > 0 && n < queueMax && running_ && !shared)
        accepting_ = true;
}

HRESULT Dispatcher::QueueMessage(const Bstr& to, const Bstr& body, GUID* id) { return QueueExpiring(to, body, 0, id); }

HRESULT Dispatcher::QueueExpiring(const Bstr& to, const Bstr& body, std::uint32_t expireAfter, GUID* id)
{
    if (!HasRoom())
        return E_FAIL;
    RecordPtr record = MessageRecord::New();
    record->Initialise();
    if (id)
        *id = record->Id;
    record->To = to;
    record->Body = body;
    record->ExpireAfter = expireAfter;
    HRESULT hr = store_.Accept(*record);
    if (SUCCEEDED(hr)) {
        events::Announce({events::AuditKind::Queued, record->Id, Utf16ToUtf8(record->To.str()), "bus", {}, {}});
        (void)Dispatch(record.get());  // a message not handed to a device stays queued for the next start
    }
    return hr;
}

HRESULT Dispatcher::Dispatch(MessageRecord* record)
{
    CountInFlight();
    LONG chosen = 0;
    HRESULT hr = HandOver(*record, chosen);
    if (hr == S_OK)
        return hr;
    if (hr == devices::kLeftToOthers || (shared && FAILED(hr))) {
        // The store is the waiting room: any host's claim finds it there
        // (a lease this host could not give back runs out by itself).
        TakeBackInFlight();
        return S_OK;
    }
    if (hr == S_FALSE) {
        TakeBackInFlight();
        return FailWithoutDevice(record, chosen);
    }
    // Refused (the device's queue is full): it stays queued and counted,
    // and waits for room.
    if (rooms_.Size() == 0)
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "A device's queue is full: message %s and those after it wait in the queue until a device "
                      "has room",
                      GuidToUtf8(record->Id).c_str());
    rooms_.Park(record->Id);
    return S_OK;
}

HRESULT Dispatcher::HandOver(MessageRecord& record, LONG& chosen)
{
    return devices_.Route(record, chosen, [&](devices::DeviceHost& host) {
        // Nothing is given back here: the message may be one a device of
        // this host holds already, found again by a claim.
        if (shared && host.PendingCount() >= kSharedAhead)
            return devices::kLeftToOthers;
        HRESULT taken = store_.Take(record, host.Name());
        if (taken == E_ACCESSDENIED)
            return devices::kLeftToOthers;  // another host holds it
        if (FAILED(taken))
            return taken;
        HRESULT handed = host.Enqueue(&record);
        if (FAILED(handed) && shared) {
            store_.Release(record);
            return devices::kLeftToOthers;
        }
        if (SUCCEEDED(handed) && shared)
            handed_.Hold(record);
        return handed;
    });
}

HRESULT Dispatcher::FailWithoutDevice(MessageRecord* record, LONG chosen)
{
    // No device takes it (the one its rule or the default named is gone):
    // the message fails, rather than stopping the service at every start.
    log_.LogEvent(EVENTLOG_ERROR_TYPE,
                  "There is no Device to satisfy the dispatch call for message %s: device %d is "
                  "not there, the message is failed",
                  GuidToUtf8(record->Id).c_str(), static_cast<int>(chosen));
    return Settle(record, SEND_FAILED,
                  u"\r\nNo device to send it: device " + Utf8ToUtf16(std::to_string(chosen)) + u" is not there", {});
}

void Dispatcher::ClaimShared()
{
    if (!shared || !running_)
        return;
    std::unique_lock<std::mutex> one(claiming_, std::try_to_lock);
    if (!one) {
        claimAgain_ = true;  // the claim that runs looks once more when it ends
        return;
    }
    do {
        claimAgain_ = false;
        std::uint64_t after = 0;
        for (std::size_t seen = 0; seen < kClaimScan && devices_.AnyRoom(kSharedAhead);) {
            std::uint64_t next = store_.Unclaimed(after, kClaimBatch, [&](RecordPtr record) {
                (void)Dispatch(record.get());  // not handed over: it stays in the store for another try
                return devices_.AnyRoom(kSharedAhead);
            });
            seen += kClaimBatch;
            if (next == after)
                break;
            after = next;
        }
    } while (claimAgain_ && running_);
}

void Dispatcher::TakeWaiting()
{
    if (shared) {
        ClaimShared();
        return;
    }
    if (rooms_.Size() == 0)
        return;
    rooms_.Take([this](const GUID& id) {
        RecordPtr record = store_.LoadQueued(id);
        if (!record) {
            TakeBackInFlight();  // gone, or set aside as bad (logged): nothing left to send
            return true;
        }
        LONG chosen = 0;
        HRESULT hr = HandOver(*record, chosen);
        if (hr == S_FALSE) {
            TakeBackInFlight();
            (void)FailWithoutDevice(record.get(), chosen);
        }
        return hr == S_OK || hr == S_FALSE;
    });
    if (rooms_.Size() == 0)
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE,
                      "The messages that waited for room in a device's queue are all handed to devices");
}

RecordPtr Dispatcher::ReportedRecord(const GUID& id)
{
    // A shared store may be away when the device reports: the record it was
    // handed serves, so the outcome is settled (and kept) all the same.
    RecordPtr record = handed_.Take(id);
    return record ? record : store_.LoadQueued(id);
}

void Dispatcher::CompleteMessage(const std::u16string& device, const GUID& id, LONG result, BSTR statusText)
{
    TakeBackInFlight();
    RecordPtr record = ReportedRecord(id);
    if (!record)
        return;
    std::u16string_view note =
        statusText ? std::u16string_view(statusText, SysStringLen(statusText)) : std::u16string_view();
    (void)Settle(record.get(), result, note, Utf16ToUtf8(device));  // see Settle: it always answers S_OK
    TakeWaiting();                                                  // the device has room for one more
}

std::u16string Dispatcher::ExpiryOf(const MessageRecord& record)
{
    std::uint32_t limit = queueExpire;
    if (record.ExpireAfter && (limit == 0 || record.ExpireAfter < limit))
        limit = record.ExpireAfter;
    if (limit == 0)
        return {};
    SYSTEMTIME now{};
    GetSystemTime(&now);
    if (messagefile::SecondsBetween(record.Created, now) <= limit)
        return {};  // not expired, or no creation time to tell
    std::u16string text =
        Utf8ToUtf16("Expired after " + messagefile::FormatDuration(limit) + " in the queue: not sent");
    return record.StatusText.IsEmpty() ? text : u"\r\n" + text;
}

HRESULT Dispatcher::RecordDelivery(const std::u16string& device, const GUID& id, LONG state, BSTR statusText,
                                   const SYSTEMTIME* accepted, const SYSTEMTIME* discharged)
{
    std::u16string_view note =
        statusText ? std::u16string_view(statusText, SysStringLen(statusText)) : std::u16string_view();
    return deliveries_.Record(Utf16ToUtf8(device), id, state, note, accepted, discharged);
}

HRESULT Dispatcher::Settle(MessageRecord* record, LONG result, std::u16string_view statusText,
                           const std::string& device)
{
    if (!statusText.empty())
        AppendStatusText(record->StatusText, statusText);
    if (result == SEND_RETRY && (retryMax <= 0 || record->RetryCount <= retryMax)) {
        record->Status = QUEUED;
        ++record->RetryCount;
        (void)store_.SaveRetry(*record);  // the older queued copy serves as well
        // Held for a pause before it goes out again; it counts as in flight meanwhile.
        CountInFlight();
        retries_.Add(record, DesignWait(kRetryPause));
        return S_OK;
    }

    GetSystemTime(&record->Completed);
    if (result == SEND_OK) {
        record->Status = SENT;
    } else {
        if (result != SEND_FAILED)
            AppendStatusText(record->StatusText, kTooManyRetries);
        record->Status = FAILED;
    }
    if (FAILED(store_.Finish(*record)))
        return S_OK;  // still queued: dispatched again at the next start rather than lost
    events::Announce({record->Status == SENT ? events::AuditKind::Sent : events::AuditKind::Failed,
                      record->Id,
                      {},
                      {},
                      device,
                      Utf16ToUtf8(record->StatusText.str())});
    return S_OK;
}

int Dispatcher::LoadStoredMessages()
{
    return store_.Recover([this](RecordPtr record) { return SUCCEEDED(Dispatch(record.get())); });
}

bool Dispatcher::RestartDevice(LONG id)
{
    std::optional<devices::DeviceTable::Restarted> restarted = devices_.Restart(id);
    if (!restarted)
        return false;
    // The dead device will never report these; each is counted afresh when
    // it is dispatched again.
    for (std::size_t i = 0; i < restarted->pending.size(); ++i)
        TakeBackInFlight();
    for (const devices::DeviceHost::Pending& message : restarted->pending) {
        RecordPtr record = ReportedRecord(message.id);
        if (!record)
            continue;
        if (shared && !message.handedOut)
            store_.Release(*record);  // taken for the dead device: to be taken again
        HRESULT hr = message.handedOut ? Settle(record.get(), SEND_RETRY, kEndedBeforeReport, restarted->name)
                                       : Dispatch(record.get());
        if (FAILED(hr))
            break;  // the rest wait in the queue for the next start
    }
    return restarted->running;
}

}  // namespace velmo::queue
