#include "service/queue/PickupWatcher.h"

#include "messagefile/MessageId.h"
#include "messagefile/MessageRules.h"
#include "messagefile/QueueFolders.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/events/MessageEvents.h"
#include "service/queue/MessageFiles.h"

namespace velmo::queue {

using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

constexpr DWORD kPickupInterval = 30000;
constexpr DWORD kStopWait = 10000;
constexpr char16_t kClaimSuffix[] = u".claimed";

// A producer that still holds the file locked for writing is not done.
bool StillBeingWritten(const std::u16string& path)
{
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return GetLastError() == static_cast<DWORD>(ERROR_SHARING_VIOLATION);
    CloseHandle(probe);
    return false;
}

void AnnounceQueued(const MessageRecord& record)
{
    events::Announce({events::AuditKind::Queued, record.Id, Utf16ToUtf8(record.To.str()), "pickup", {}, {}});
}

}  // namespace

PickupWatcher::PickupWatcher(events::EventSink& log, std::u16string root, QueueStore& store, HandOn handOn,
                             HasRoom hasRoom, std::function<void()> eachScan)
    : log_(log), root_(std::move(root)), store_(store), handOn_(std::move(handOn)), hasRoom_(std::move(hasRoom)),
      eachScan_(std::move(eachScan))
{}

PickupWatcher::~PickupWatcher() { Stop(); }

void PickupWatcher::Start()
{
    thread_ = Handle(CreateThread(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, nullptr));
    if (thread_)
        ResumeThread(thread_.get());
}

void PickupWatcher::Stop()
{
    if (!thread_)
        return;
    SetEvent(stop_.get());
    if (WaitForSingleObject(thread_.get(), DesignWait(kStopWait)) != WAIT_OBJECT_0)
        TerminateThread(thread_.get(), 1);
    thread_ = Handle();
}

DWORD PickupWatcher::ThreadMain(void* self)
{
    auto* watcher = static_cast<PickupWatcher*>(self);
    while (WaitForSingleObject(watcher->stop_.get(), DesignWait(kPickupInterval)) == WAIT_TIMEOUT) {
        watcher->Scan();
        if (watcher->eachScan_)
            watcher->eachScan_();
    }
    return 0;
}

void PickupWatcher::RecoverClaims(const std::u16string& pickup)
{
    for (const std::string& file : ListFileNames(Utf16ToUtf8(pickup), "*.claimed")) {
        std::u16string claim = Utf8ToUtf16(file);
        std::u16string path = pickup + claim;
        auto id = messagefile::IdOfFileName(claim, kClaimSuffix);
        if (!id) {
            MoveToBad(root_, path, claim);
            continue;
        }
        if (!store_.Knows(*id)) {
            RecordPtr record = LoadOrQuarantine(log_, root_, path, claim);
            if (!record || !KeepsTheRules(*record, path, claim))
                continue;
            record->Initialise();
            record->Id = *id;
            if (FAILED(store_.Accept(*record)))
                return;
            AnnounceQueued(*record);
            (void)handOn_(record.get());  // not handed on: it waits in the queue like any queued message
        }
        (void)DeleteFileDurably(Utf16ToUtf8(path));  // one left behind is removed at the next scan
    }
}

void PickupWatcher::Scan()
{
    std::u16string pickup = root_ + messagefile::kPickupFolder;
    RecoverClaims(pickup);
    for (const std::string& file : ListFileNames(Utf16ToUtf8(pickup), "*.velmo")) {
        if (!Room())
            return;
        std::u16string name = Utf8ToUtf16(file);
        std::u16string path = pickup + name;
        if (StillBeingWritten(path))
            continue;
        RecordPtr record = LoadOrQuarantine(log_, root_, path, name);
        if (!record || !KeepsTheRules(*record, path, name))
            continue;
        record->Initialise();
        std::u16string claim = pickup + GuidToString(record->Id) + kClaimSuffix;
        if (!MoveFileExW(path.c_str(), claim.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (Exists(claim))
                return;  // claimed but not known to last: the next scan takes the claim
            continue;    // gone meanwhile, or taken by another reader
        }
        if (!Queue(record.get())) {
            // The file goes back under its own name for the next scan.
            (void)MoveFileExW(claim.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
            return;
        }
        (void)DeleteFileDurably(Utf16ToUtf8(claim));  // one left behind is removed at the next scan
    }
}

bool PickupWatcher::KeepsTheRules(MessageRecord& record, const std::u16string& path, const std::u16string& name)
{
    std::string why;
    std::optional<std::u16string> to = messagefile::CheckNewMessage(record.To.view(), record.Body.view(), why);
    if (to) {
        record.To = Bstr(*to);
        return true;
    }
    log_.LogEvent(EVENTLOG_WARNING_TYPE, "The pickup file [%s] is refused and moved to bad/: %s",
                  Utf16ToUtf8(path).c_str(), why.c_str());
    MoveToBad(root_, path, name);
    return false;
}

bool PickupWatcher::Room()
{
    bool room = !hasRoom_ || hasRoom_();
    if (!room && !full_)
        log_.LogEvent(EVENTLOG_WARNING_TYPE, "The queue is full: files in pickup/ wait until it has room");
    full_ = !room;
    return room;
}

bool PickupWatcher::Queue(MessageRecord* record)
{
    if (FAILED(store_.Accept(*record)))
        return false;
    AnnounceQueued(*record);
    if (FAILED(handOn_(record))) {
        store_.Withdraw(record->Id);  // no queued copy may outlive the pickup file
        return false;
    }
    return true;
}

}  // namespace velmo::queue
