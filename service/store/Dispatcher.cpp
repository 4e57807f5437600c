#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/host/ServiceModule.h"
#include "service/store/MessageEvents.h"
#include "messagefile/QueueFolders.h"

namespace velmo::store {

namespace {

constexpr int kDeleteAttempts = 3;
constexpr DWORD kDeletePause = 300;
constexpr char16_t kTooManyRetries[] = u"\r\nAttempted too many retries";
constexpr std::size_t kStatusTextLimit = 4096;
constexpr char16_t kCutMark[] = u"[earlier status text cut]";
constexpr DWORD kRetryPause = 1000;

// A status text keeps its last kStatusTextLimit characters: a message
// retried without end must not grow its file without end.
void Append(Bstr& text, std::u16string_view more)
{
    std::u16string joined(text.view());
    joined += more;
    if (joined.size() > kStatusTextLimit) {
        std::size_t keep = kStatusTextLimit - std::u16string_view(kCutMark).size();
        std::size_t from = joined.size() - keep;
        if (from < joined.size() && joined[from] >= 0xDC00 && joined[from] <= 0xDFFF)
            ++from;  // never half a surrogate pair
        joined = kCutMark + joined.substr(from);
    }
    text = Bstr(joined);
}

}  // namespace

Dispatcher::Dispatcher(host::ServiceModule& module)
    : module_(module), retries_(
                           [this](MessageRecord* record) {
                               TakeBackInFlight();
                               (void)Dispatch(record);  // not handed on: it waits in out/ for the next start
                           },
                           [this](MessageRecord*) { TakeBackInFlight(); })
{}

Dispatcher::~Dispatcher()
{
    retries_.Stop();
    ModeLock::Hold hold(lock_, 3);
    devices_.clear();
    rules_.clear();
}

std::u16string Dispatcher::Folder(const char16_t* relative) const { return module_.rootFolder + relative; }

void Dispatcher::MoveToBad(const std::u16string& path, const std::u16string& name)
{
    // A file that is gone already has nothing to move; one that cannot be
    // moved stays where it is, never deleted.
    (void)MoveFileW(path.c_str(), (Folder(kBadFolder) + name).c_str());
}

RecordPtr Dispatcher::LoadOrQuarantine(const std::u16string& path, const std::u16string& name)
{
    RecordPtr record = MessageRecord::New();
    HRESULT hr = record->LoadFromFile(path);
    if (SUCCEEDED(hr))
        return record;
    module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(path).c_str());
    if (hr == E_FAIL) {
        MoveToBad(path, name);  // damaged: kept aside, never deleted
    } else {
        module_.LogEvent(EVENTLOG_WARNING_TYPE,
                         "The file [%s] could not be read (0x%08X); it stays where it is and is read again later",
                         Utf16ToUtf8(path).c_str(), static_cast<unsigned>(hr));
    }
    return nullptr;
}

void Dispatcher::CountInFlight()
{
    LONG n = ++inFlight_;
    if (queueMax > 0 && n >= queueMax)
        accepting_ = false;
}

void Dispatcher::TakeBackInFlight()
{
    LONG n = --inFlight_;
    if (queueMax > 0 && n < queueMax && running_)
        accepting_ = true;
}

HRESULT Dispatcher::QueueMessage(const Bstr& to, const Bstr& body, GUID* id)
{
    if (!accepting_)
        return E_FAIL;
    RecordPtr record = MessageRecord::New();
    record->Initialise();
    if (id)
        *id = record->Id;
    record->To = to;
    record->Body = body;
    HRESULT hr = SaveQueued(record.get());
    if (SUCCEEDED(hr)) {
        Announce({AuditKind::Queued, record->Id, Utf16ToUtf8(record->To.str()), "bus", {}, {}});
        (void)Dispatch(record.get());  // a message not handed to a device stays in out/ for the next start
    }
    return hr;
}

HRESULT Dispatcher::SaveQueued(MessageRecord* record)
{
    std::u16string path = Folder(kOutFolder) + MessageFileName(record->Id);
    HRESULT hr = record->SaveToFile(path);
    if (FAILED(hr)) {
        module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", Utf16ToUtf8(path).c_str());
        // A copy that stands without being known to last is no accepted
        // message: it goes, so a crash cannot send what was refused.
        (void)DeleteFileW(path.c_str());
    }
    return hr;
}

HRESULT Dispatcher::QueueMessage(IVelmo* message, GUID* id)
{
    if (!message)
        return E_POINTER;
    Bstr to, body;
    HRESULT hr = message->get_To(to.Receive());
    if (SUCCEEDED(hr))
        hr = message->get_Body(body.Receive());
    if (FAILED(hr))
        return hr;
    return QueueMessage(to, body, id);
}

HRESULT Dispatcher::Dispatch(MessageRecord* record)
{
    LONG id = 0;
    {
        ModeLock::Hold hold(lock_, 1);
        CountInFlight();
        id = ChooseDevice(record->To);
        auto it = devices_.find(id);
        if (it != devices_.end()) {
            HRESULT hr = it->second->Enqueue(record);
            if (FAILED(hr))
                TakeBackInFlight();
            return hr;
        }
        TakeBackInFlight();
    }
    // No device takes it (the one its rule or the default named is gone):
    // the message fails, rather than stopping the service at every start.
    std::string text = GuidToUtf8(record->Id);
    module_.LogEvent(EVENTLOG_ERROR_TYPE,
                     "There is no Device to satisfy the dispatch call for message %s: device %d is "
                     "not there, the message is failed",
                     text.c_str(), static_cast<int>(id));
    std::u16string name = MessageFileName(record->Id);
    return Settle(record, Folder(kOutFolder) + name, name, SEND_FAILED,
                  u"\r\nNo device to send it: device " + Utf8ToUtf16(std::to_string(id)) + u" is not there", {});
}

void Dispatcher::CompleteMessage(const std::u16string& device, const GUID& id, LONG result, BSTR statusText)
{
    TakeBackInFlight();
    std::u16string name = MessageFileName(id);
    std::u16string path = Folder(kOutFolder) + name;
    RecordPtr record = LoadOrQuarantine(path, name);
    if (!record)
        return;
    std::u16string_view note =
        statusText ? std::u16string_view(statusText, SysStringLen(statusText)) : std::u16string_view();
    (void)Settle(record.get(), path, name, result, note,
                 Utf16ToUtf8(device));  // a message not handed on waits in out/ for the next start
}

HRESULT Dispatcher::Settle(MessageRecord* record, const std::u16string& path, const std::u16string& name, LONG result,
                           std::u16string_view statusText, const std::string& device)
{
    if (!statusText.empty())
        Append(record->StatusText, statusText);
    if (result == SEND_RETRY && (retryMax <= 0 || record->RetryCount <= retryMax)) {
        record->Status = QUEUED;
        ++record->RetryCount;
        (void)record->SaveToFile(path);  // the older copy in out/ serves as well
        // Held for a pause before it goes out again; it counts as in flight meanwhile.
        CountInFlight();
        retries_.Add(record, DesignWait(kRetryPause));
        return S_OK;
    }

    GetSystemTime(&record->Completed);
    const char16_t* target = kFailedFolder;
    if (result == SEND_OK) {
        record->Status = SENT;
        target = kSentFolder;
    } else {
        if (result != SEND_FAILED)
            Append(record->StatusText, kTooManyRetries);
        record->Status = FAILED;
    }
    std::u16string finished = Folder(target) + name;
    if (FAILED(record->SaveToFile(finished))) {
        // The queue copy stays: the message is dispatched again at the next
        // start rather than lost.
        module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", Utf16ToUtf8(finished).c_str());
        return S_OK;
    }
    Announce({record->Status == SENT ? AuditKind::Sent : AuditKind::Failed,
              record->Id,
              {},
              {},
              device,
              Utf16ToUtf8(record->StatusText.str())});
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (DeleteFileW(path.c_str()) || GetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
            break;
        Sleep(DesignWait(kDeletePause));
    }
    return S_OK;
}

}  // namespace velmo::store
