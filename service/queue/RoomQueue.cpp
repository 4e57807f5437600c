#include "service/queue/RoomQueue.h"

namespace velmo::queue {

void RoomQueue::Park(const GUID& id)
{
    std::lock_guard hold(lock_);
    waiting_.push_back(id);
}

void RoomQueue::Take(const std::function<bool(const GUID&)>& handOn)
{
    std::unique_lock taking(taking_, std::try_to_lock);
    if (!taking.owns_lock())
        return;
    while (true) {
        GUID first{};
        {
            std::lock_guard hold(lock_);
            if (waiting_.empty())
                return;
            first = waiting_.front();
        }
        // Outside the lock: Park may run meanwhile, and only this caller
        // ever removes the first.
        if (!handOn(first))
            return;
        std::lock_guard hold(lock_);
        waiting_.pop_front();
    }
}

std::size_t RoomQueue::Size() const
{
    std::lock_guard hold(lock_);
    return waiting_.size();
}

}  // namespace velmo::queue
