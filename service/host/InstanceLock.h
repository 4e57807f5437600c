// One service per root folder: an exclusive lock on "<root>velmosvc.lock",
// held from Take until the lock object goes, with the holder's process id
// written in the file. A second service on the same root finds the lock
// taken and learns who holds it, so it stops before it touches the queue.
#pragma once

#include "platform/Sync.h"

#include <string>

namespace velmo::host {

class InstanceLock {
public:
    enum class Result {
        Taken,          // this process holds the lock now
        HeldElsewhere,  // another process holds it: Holder() names its pid
        Unavailable,    // the lock file cannot be opened (a missing or read-only root): no lock
    };

    // root ends in "/".
    Result Take(const std::u16string& root);
    // The process id another holder wrote, as text; empty when unknown.
    const std::string& Holder() const { return holder_; }
    // The lock file's path, after Take.
    const std::string& Path() const { return path_; }

private:
    Handle file_;
    std::string holder_;
    std::string path_;
};

}  // namespace velmo::host
