// The pickup watcher: every 30 s, message files that other programs
// dropped into pickup/ become new outgoing messages.
#include "service/store/Dispatcher.h"

#include "platform/File.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "service/host/ServiceModule.h"
#include "service/store/QueueFolders.h"

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

} // namespace

DWORD Dispatcher::PickupMain(void* self)
{
    auto* dispatcher = static_cast<Dispatcher*>(self);
    while (WaitForSingleObject(dispatcher->pickupStop_.get(), DesignWait(kPickupInterval)) == WAIT_TIMEOUT)
        dispatcher->ScanPickup();
    return 0;
}

void Dispatcher::ScanPickup()
{
    std::u16string pickup = Folder(kPickupFolder);
    for (const std::u16string& name : ListMessageFiles(pickup)) {
        std::u16string path = pickup + name;
        if (StillBeingWritten(path))
            continue;
        auto* record = new MessageRecord();
        if (FAILED(record->LoadFromFile(path))) {
            module_.LogEvent(EVENTLOG_ERROR_TYPE, "Failed loading velmo file: [%s]", Utf16ToUtf8(path).c_str());
            MoveToBad(path, name);
            record->Release();
            continue;
        }
        record->Initialise();
        std::u16string queued = Folder(kOutFolder) + MessageFileName(record->Id);
        (void)record->SaveToFile(queued);  // without a queue copy the report is logged as a load failure
        HRESULT hr = Dispatch(record);
        record->Release();
        if (FAILED(hr)) {
            // The pickup file stays for the next scan; its queue copy must
            // not become a second message.
            (void)DeleteFileW(queued.c_str());
            return;
        }
        (void)DeleteFileW(path.c_str());  // one attempt; a file left behind is taken again
    }
}

} // namespace velmo::store
