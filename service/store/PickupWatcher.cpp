// The pickup watcher: every 30 s, message files that other programs
// dropped into pickup/ become new outgoing messages.
#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/host/ServiceModule.h"
#include "service/store/MessageEvents.h"
#include "messagefile/QueueFolders.h"

namespace velmo::store {

namespace {

constexpr DWORD kPickupInterval = 30000;

// A producer that still holds the file locked for writing is not done.
bool StillBeingWritten(const std::u16string& path)
{
    HANDLE probe = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return GetLastError() == static_cast<DWORD>(ERROR_SHARING_VIOLATION);
    CloseHandle(probe);
    return false;
}

}  // namespace

DWORD Dispatcher::PickupMain(void* self)
{
    auto* dispatcher = static_cast<Dispatcher*>(self);
    while (WaitForSingleObject(dispatcher->pickupStop_.get(), DesignWait(kPickupInterval)) == WAIT_TIMEOUT)
        dispatcher->ScanPickup();
    return 0;
}

// A pickup file is claimed before it is queued: renamed to "{ID}.claimed"
// in pickup/ (and pickup/ synced, so the claim lasts before any queue copy
// exists), then saved as out/{ID}.velmo durably, then the claim is removed
// (and pickup/ synced). A crash at any point leaves either the claim alone
// (queued again under the same id) or the claim and the queue copy (the
// claim is just removed), so no message is lost and none is queued twice.
void Dispatcher::RecoverClaims(const std::u16string& pickup)
{
    for (const std::u16string& claim : ListFiles(pickup, u"*.claimed")) {
        std::u16string stem = claim.substr(0, claim.size() - std::u16string_view(u".claimed").size());
        auto id = ParseGuid(stem);
        std::u16string path = pickup + claim;
        if (!id) {
            MoveToBad(path, claim);
            continue;
        }
        std::u16string name = MessageFileName(*id);
        bool queued = false;
        for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder})
            queued = queued || FileExists(Folder(folder) + name);
        if (!queued) {
            RecordPtr record = LoadOrQuarantine(path, claim);
            if (!record)
                continue;
            record->Initialise();
            record->Id = *id;
            HRESULT hr = SaveQueued(record.get());
            if (SUCCEEDED(hr)) {
                Announce({AuditKind::Queued, record->Id, Utf16ToUtf8(record->To.str()), "pickup", {}, {}});
                (void)Dispatch(record.get());  // not handed on: it waits in out/ like any queued message
            }
            if (FAILED(hr))
                return;
        }
        (void)DeleteFileDurably(Utf16ToUtf8(path));  // one left behind is removed at the next scan
    }
}

void Dispatcher::ScanPickup()
{
    std::u16string pickup = Folder(kPickupFolder);
    RecoverClaims(pickup);
    for (const std::u16string& name : ListMessageFiles(pickup)) {
        std::u16string path = pickup + name;
        if (StillBeingWritten(path))
            continue;
        RecordPtr record = LoadOrQuarantine(path, name);
        if (!record)
            continue;
        record->Initialise();
        std::u16string claim = pickup + GuidToString(record->Id) + u".claimed";
        if (!MoveFileExW(path.c_str(), claim.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (FileExists(claim))
                return;  // claimed but not known to last: the next scan takes the claim
            continue;    // gone meanwhile, or taken by another reader
        }
        HRESULT hr = SaveQueued(record.get());
        if (SUCCEEDED(hr)) {
            Announce({AuditKind::Queued, record->Id, Utf16ToUtf8(record->To.str()), "pickup", {}, {}});
            hr = Dispatch(record.get());
            if (FAILED(hr))
                (void)DeleteFileW(Folder(kOutFolder)
                                      .append(MessageFileName(record->Id))
                                      .c_str());  // no queue copy may outlive the pickup file
        }
        if (FAILED(hr)) {
            // The file goes back under its own name for the next scan.
            (void)MoveFileExW(claim.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
            return;
        }
        (void)DeleteFileDurably(Utf16ToUtf8(claim));  // one left behind is removed at the next scan
    }
}

}  // namespace velmo::store
