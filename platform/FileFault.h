// A seam for fault tests: before each system call on a file or folder, the
// file layer asks the hook whether the call should fail, and with which
// errno. Tests use it to inject I/O errors and to record the order of
// operations; nothing else sets it.
//
// The hook is called on any thread, without a lock of the file layer held;
// it must be quick and must not call back into the file layer for the same
// file. Without a hook the cost is one atomic load per call.
#pragma once

#include "platform/Types.h"

#include <functional>
#include <string>

namespace velmo {

enum class FileOp {
    Open,        // path: the file opened (a temporary file of WriteFileDurably too)
    Read,        // path: the file read
    Write,       // path: the file written
    Sync,        // path: the file synced
    SyncFolder,  // path: the folder synced
    Rename,      // path: the source, target: the new name
    Unlink,      // path: the file removed
};

// Returns the errno the call is to fail with, 0 to let it run.
using FileFaultHook = std::function<int(FileOp op, const std::string& path, const std::string& target)>;

// Sets the hook (null removes it) for the whole process.
VELMO_PLATFORM_API void SetFileFaultHook(FileFaultHook hook);

namespace detail {
// What the hook says of this call: 0, or the errno to fail with (errno is
// then set to it).
int FileFault(FileOp op, const std::string& path, const std::string& target = {});
}  // namespace detail

}  // namespace velmo
