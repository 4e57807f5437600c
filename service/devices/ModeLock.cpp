#include "service/devices/ModeLock.h"

namespace velmo::devices {

void ModeLock::Enter(int mode)
{
    std::unique_lock lock(mu_);
    // Mode 1 is shared by any number of holders; modes 2 and 3 admit one.
    changed_.wait(lock, [&] { return holders_ == 0 || (mode == 1 && mode_ == 1); });
    mode_ = mode;
    ++holders_;
}

void ModeLock::Leave()
{
    std::lock_guard lock(mu_);
    if (--holders_ == 0) {
        mode_ = 0;
        changed_.notify_all();
    }
}

}  // namespace velmo::devices
