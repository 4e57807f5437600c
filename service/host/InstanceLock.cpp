#include "service/host/InstanceLock.h"

#include "platform/File.h"
#include "platform/Sync.h"
#include "platform/Text.h"

namespace velmo::host {

InstanceLock::Result InstanceLock::Take(const std::u16string& root)
{
    std::u16string path = root + u"velmosvc.lock";
    path_ = Utf16ToUtf8(path);
    // No sharing: the open takes the file's exclusive lock or fails at once;
    // CREATE_ALWAYS empties it only once the lock is held.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        file_ = Handle(file);
        std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
        DWORD written = 0;
        // The pid only helps the message of a second service; the lock holds without it.
        (void)WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
        return Result::Taken;
    }
    if (GetLastError() != static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        return Result::Unavailable;
    // Sharing writes takes no lock, so the holder's file can be read.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE)
        return Result::HeldElsewhere;
    Handle owner(reader);
    char text[32] = {};
    DWORD read = 0;
    if (ReadFile(reader, text, sizeof text - 1, &read, nullptr)) {
        holder_.assign(text, read);
        while (!holder_.empty() && (holder_.back() == '\n' || holder_.back() == '\r'))
            holder_.pop_back();
    }
    return Result::HeldElsewhere;
}

}  // namespace velmo::host
