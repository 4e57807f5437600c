// The folders' changes: accepting, retrying, finishing, storing received
// messages and the recovery at start. The reading side is
// FolderListing.cpp.
#include "service/queue/FolderStore.h"

#include "messagefile/MessageId.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/queue/MessageFiles.h"

#include <algorithm>
#include <tuple>

namespace velmo::queue {

using messagefile::kFailedFolder;
using messagefile::kInFolder;
using messagefile::kOutFolder;
using messagefile::kSentFolder;
using messagefile::MessageFileName;
using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

constexpr int kDeleteAttempts = 3;
constexpr DWORD kDeletePause = 300;
constexpr char16_t kOfferSuffix[] = u".offer";

// Whether a was received before b (UTC fields, to the millisecond).
bool ReceivedBefore(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    auto key = [](const SYSTEMTIME& t) {
        return std::tie(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    };
    return key(a) < key(b);
}

}  // namespace

std::u16string FolderStore::PathOf(const char16_t* folder, const GUID& id) const
{
    return root_ + folder + MessageFileName(id);
}

HRESULT FolderStore::SaveNew(const MessageRecord& record, const std::u16string& path)
{
    HRESULT hr = record.SaveToFile(path);
    if (FAILED(hr)) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", Utf16ToUtf8(path).c_str());
        // A copy that stands without being known to last is no stored
        // message: it goes, so a crash cannot bring back what was refused.
        (void)DeleteFileW(path.c_str());
    }
    return hr;
}

HRESULT FolderStore::Accept(const MessageRecord& record)
{
    HRESULT hr = SaveNew(record, PathOf(kOutFolder, record.Id));
    if (SUCCEEDED(hr))
        index_.Add(Folder::Queued, Utf16ToUtf8(MessageFileName(record.Id)));
    return hr;
}

void FolderStore::Withdraw(const GUID& id)
{
    std::u16string path = PathOf(kOutFolder, id);
    if (!DeleteFileW(path.c_str()) && GetLastError() != static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "The file [%s] could not be removed: it will be sent at the next start",
                      Utf16ToUtf8(path).c_str());
    else
        index_.Remove(Folder::Queued, Utf16ToUtf8(MessageFileName(id)));
}

bool FolderStore::Knows(const GUID& id)
{
    for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder})
        if (Exists(PathOf(folder, id)))
            return true;
    return false;
}

RecordPtr FolderStore::LoadQueued(const GUID& id)
{
    std::u16string name = MessageFileName(id);
    return LoadOrQuarantine(log_, root_, root_ + kOutFolder + name, name);
}

HRESULT FolderStore::Take(const MessageRecord&, std::u16string_view) { return S_OK; }

HRESULT FolderStore::SaveRetry(const MessageRecord& record) { return record.SaveToFile(PathOf(kOutFolder, record.Id)); }

HRESULT FolderStore::Finish(const MessageRecord& record)
{
    std::u16string finished = PathOf(record.Status == SENT ? kSentFolder : kFailedFolder, record.Id);
    HRESULT hr = record.SaveToFile(finished);
    if (FAILED(hr)) {
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", Utf16ToUtf8(finished).c_str());
        return hr;
    }
    std::string name = Utf16ToUtf8(MessageFileName(record.Id));
    index_.Add(record.Status == SENT ? Folder::Sent : Folder::Failed, name);
    std::u16string queued = PathOf(kOutFolder, record.Id);
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (DeleteFileW(queued.c_str()) || GetLastError() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) {
            index_.Remove(Folder::Queued, name);
            break;
        }
        Sleep(DesignWait(kDeletePause));
    }
    return S_OK;
}

HRESULT FolderStore::UpdateSent(const MessageRecord& record)
{
    std::u16string path = PathOf(kSentFolder, record.Id);
    HRESULT hr = record.SaveToFile(path);
    if (FAILED(hr))
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", Utf16ToUtf8(path).c_str());
    return hr;
}

// The mark of a received message that waits for the handlers: an empty
// file beside it, in/{ID}.offer. It is written before the message, so a
// stored message always has its mark until the handlers have had it.
std::u16string FolderStore::OfferMarkOf(const GUID& id) const
{
    return root_ + kInFolder + GuidToString(id) + kOfferSuffix;
}

HRESULT FolderStore::StoreReceived(const MessageRecord& record)
{
    std::string mark = Utf16ToUtf8(OfferMarkOf(record.Id));
    if (!WriteFileDurably(mark, "", 0)) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed saving velmo file: [%s]", mark.c_str());
        return FAILED(hr) ? hr : E_FAIL;
    }
    HRESULT hr = SaveNew(record, PathOf(kInFolder, record.Id));
    if (FAILED(hr))
        (void)DeleteFileW(Utf8ToUtf16(mark).c_str());
    else
        index_.Add(Folder::Received, Utf16ToUtf8(MessageFileName(record.Id)));
    return hr;
}

void FolderStore::Offered(const GUID& id)
{
    std::u16string mark = OfferMarkOf(id);
    if (!DeleteFileW(mark.c_str()) && GetLastError() != static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "The mark [%s] cannot be removed: the handlers are offered the message again at the next start",
                      Utf16ToUtf8(mark).c_str());
}

std::vector<RecordPtr> FolderStore::AwaitingHandlers()
{
    std::vector<RecordPtr> waiting;
    std::u16string in = root_ + kInFolder;
    for (const std::string& file : ListFileNames(Utf16ToUtf8(in), "*.offer")) {
        std::u16string name = Utf8ToUtf16(file);
        std::optional<GUID> id = messagefile::IdOfFileName(name, kOfferSuffix);
        std::u16string message = id ? PathOf(kInFolder, *id) : std::u16string();
        if (!id || !Exists(message)) {
            (void)DeleteFileW((in + name).c_str());  // its message was never stored, or is gone
            continue;
        }
        RecordPtr record = MessageRecord::New();
        if (FAILED(record->LoadFromFile(message))) {
            log_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(message).c_str());
            continue;
        }
        waiting.push_back(std::move(record));
    }
    std::sort(waiting.begin(), waiting.end(), [](const RecordPtr& a, const RecordPtr& b) {
        if (ReceivedBefore(a->Received, b->Received) || ReceivedBefore(b->Received, a->Received))
            return ReceivedBefore(a->Received, b->Received);
        return GuidToUtf8(a->Id) < GuidToUtf8(b->Id);
    });
    return waiting;
}

int FolderStore::RemoveLeftovers()
{
    int removed = 0;
    for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder, kInFolder}) {
        std::string path = Utf16ToUtf8(root_ + folder);
        // WriteFileDurably's temporary files: ".{ID}.velmo." (or ".offer.") and six letters.
        for (const char* pattern : {".*.velmo.??????", ".*.offer.??????"})
            for (const std::string& name : ListFileNames(path, pattern))
                removed += DeleteFileW(Utf8ToUtf16(path + name).c_str()) ? 1 : 0;
    }
    return removed;
}

int FolderStore::Recover(const std::function<bool(RecordPtr)>& take)
{
    if (int removed = RemoveLeftovers())
        log_.LogEvent(EVENTLOG_INFORMATION_TYPE, "Removed %d temporary files that a crash left in the queue folders",
                      removed);
    std::u16string out = root_ + kOutFolder;
    int count = 0;
    for (const std::string& file : ListFileNames(Utf16ToUtf8(out), "*.velmo")) {
        std::u16string name = Utf8ToUtf16(file);
        std::u16string path = out + name;
        // A crash between saving the finished copy and deleting the queue
        // copy leaves both: the message is finished, so it is not sent again.
        if (Exists(root_ + kSentFolder + name) || Exists(root_ + kFailedFolder + name)) {
            (void)DeleteFileW(path.c_str());
            ++count;
            continue;
        }
        RecordPtr record = LoadOrQuarantine(log_, root_, path, name);
        if (!record) {
            ++count;
            continue;
        }
        MatchIdToName(*record, path, name);
        if (!take(record))
            break;
        ++count;
    }
    return count;
}

// The report of a message finds its file by the id: a file whose name is
// not its id (copied in by hand, renamed) is brought in line first, so it
// is not sent again at every start.
void FolderStore::MatchIdToName(MessageRecord& record, std::u16string& path, const std::u16string& name)
{
    if (name == MessageFileName(record.Id))
        return;
    std::string was = GuidToUtf8(record.Id);
    if (auto id = messagefile::IdOfFileName(name, u".velmo")) {
        // The name wins: it is what a client was given and what every folder is searched by.
        record.Id = *id;
        if (SUCCEEDED(record.SaveToFile(path)))
            log_.LogEvent(EVENTLOG_WARNING_TYPE,
                          "The file [%s] holds the id %s: it is taken as the message its name "
                          "gives",
                          Utf16ToUtf8(path).c_str(), was.c_str());
        return;
    }
    std::u16string renamed = PathOf(kOutFolder, record.Id);
    if (MoveFileExW(path.c_str(), renamed.c_str(), MOVEFILE_WRITE_THROUGH)) {
        log_.LogEvent(EVENTLOG_WARNING_TYPE, "The file [%s] is renamed to the id it holds, %s",
                      Utf16ToUtf8(path).c_str(), was.c_str());
        index_.Remove(Folder::Queued, Utf16ToUtf8(name));
        index_.Add(Folder::Queued, Utf16ToUtf8(MessageFileName(record.Id)));
        path = renamed;
    }
}

}  // namespace velmo::queue
