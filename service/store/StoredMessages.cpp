// The messages already in the queue folders: those waiting in out/ at
// start, and the look-up of one message by its id.
#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"
#include "messagefile/QueueFolders.h"

namespace velmo::store {

int Dispatcher::RemoveLeftovers()
{
    int removed = 0;
    for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder, kInFolder}) {
        std::u16string path = Folder(folder);
        // WriteFileDurably's temporary files: ".{ID}.velmo." and six letters.
        for (const std::u16string& name : ListFiles(path, u".*.velmo.??????"))
            removed += DeleteFileW((path + name).c_str()) ? 1 : 0;
    }
    return removed;
}

int Dispatcher::LoadStoredMessages()
{
    if (int removed = RemoveLeftovers())
        module_.LogEvent(EVENTLOG_INFORMATION_TYPE, "Removed %d temporary files that a crash left in the queue folders",
                         removed);
    std::u16string out = Folder(kOutFolder);
    int count = 0;
    for (const std::u16string& name : ListMessageFiles(out)) {
        std::u16string path = out + name;
        // A crash between saving the finished copy and deleting the queue
        // copy leaves both: the message is finished, so it is not sent again.
        if (FileExists(Folder(kSentFolder) + name) || FileExists(Folder(kFailedFolder) + name)) {
            (void)DeleteFileW(path.c_str());
            ++count;
            continue;
        }
        RecordPtr record = LoadOrQuarantine(path, name);
        if (!record) {
            ++count;
            continue;
        }
        MatchIdToName(record.get(), path, name);
        HRESULT hr = Dispatch(record.get());
        if (FAILED(hr))
            break;
        ++count;
    }
    return count;
}

// The report of a message finds its file by the id: a file whose name is
// not its id (copied in by hand, renamed) is brought in line first, so it
// is not sent again at every start.
void Dispatcher::MatchIdToName(MessageRecord* record, std::u16string& path, const std::u16string& name)
{
    if (name == MessageFileName(record->Id))
        return;
    std::u16string stem = name.substr(0, name.size() - std::u16string_view(u".velmo").size());
    std::string was = GuidToUtf8(record->Id);
    if (auto id = ParseGuid(stem)) {
        // The name wins: it is what a client was given and what every folder is searched by.
        record->Id = *id;
        if (SUCCEEDED(record->SaveToFile(path)))
            module_.LogEvent(EVENTLOG_WARNING_TYPE,
                             "The file [%s] holds the id %s: it is taken as the message its name "
                             "gives",
                             Utf16ToUtf8(path).c_str(), was.c_str());
        return;
    }
    std::u16string renamed = Folder(kOutFolder) + MessageFileName(record->Id);
    if (MoveFileExW(path.c_str(), renamed.c_str(), MOVEFILE_WRITE_THROUGH)) {
        module_.LogEvent(EVENTLOG_WARNING_TYPE, "The file [%s] is renamed to the id it holds, %s",
                         Utf16ToUtf8(path).c_str(), was.c_str());
        path = renamed;
    }
}

RecordPtr Dispatcher::FindMessage(const GUID& id)
{
    std::u16string name = MessageFileName(id);
    for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder}) {
        std::u16string path = Folder(folder) + name;
        if (!FileExists(path))
            continue;
        RecordPtr record = MessageRecord::New();
        if (SUCCEEDED(record->LoadFromFile(path)))
            return record;
        module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(path).c_str());
        return nullptr;
    }
    return nullptr;
}

}  // namespace velmo::store
