#include "service/queue/MessageFiles.h"

#include "messagefile/QueueFolders.h"
#include "platform/File.h"
#include "platform/Text.h"

namespace velmo::queue {

messagefile::RecordPtr LoadOrQuarantine(events::EventSink& log, const std::u16string& root, const std::u16string& path,
                                        const std::u16string& name)
{
    messagefile::RecordPtr record = messagefile::MessageRecord::New();
    HRESULT hr = record->LoadFromFile(path);
    if (SUCCEEDED(hr))
        return record;
    log.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(path).c_str());
    if (hr == E_FAIL) {
        MoveToBad(root, path, name);  // damaged: kept aside, never deleted
    } else {
        log.LogEvent(EVENTLOG_WARNING_TYPE,
                     "The file [%s] could not be read (0x%08X); it stays where it is and is read again later",
                     Utf16ToUtf8(path).c_str(), static_cast<unsigned>(hr));
    }
    return nullptr;
}

void MoveToBad(const std::u16string& root, const std::u16string& path, const std::u16string& name)
{
    (void)MoveFileW(path.c_str(), (root + messagefile::kBadFolder + name).c_str());  // see the header
}

bool Exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace velmo::queue
