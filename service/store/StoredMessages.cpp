// The messages already in the queue folders: those waiting in out/ at
// start, and the look-up of one message by its id.
#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"
#include "service/store/QueueFolders.h"

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
        MessageRecord* record = LoadOrQuarantine(path, name);
        if (!record) {
            ++count;
            continue;
        }
        HRESULT hr = Dispatch(record);
        record->Release();
        if (FAILED(hr))
            break;
        ++count;
    }
    return count;
}

MessageRecord* Dispatcher::FindMessage(const GUID& id)
{
    std::u16string name = MessageFileName(id);
    for (const char16_t* folder : {kOutFolder, kSentFolder, kFailedFolder}) {
        std::u16string path = Folder(folder) + name;
        if (!FileExists(path))
            continue;
        auto* record = new MessageRecord();
        if (SUCCEEDED(record->LoadFromFile(path)))
            return record;
        module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(path).c_str());
        record->Release();
        return nullptr;
    }
    return nullptr;
}

} // namespace velmo::store
