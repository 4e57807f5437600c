#include "platform/WorkerPool.h"

#include <algorithm>

namespace velmo::detail {

WorkerPool::WorkerPool(unsigned threads) : share_(std::max(1u, threads / 2))
{
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Run(); });
}

void WorkerPool::Post(const std::string& key, std::function<void()> job)
{
    {
        std::lock_guard lock(mu_);
        if (stopping_)
            return;
        Lane& lane = lanes_[key];
        if (lane.jobs.empty())
            turns_.push_back(key);
        lane.jobs.push(std::move(job));
    }
    ready_.notify_all();
}

void WorkerPool::Stop()
{
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_)
        if (t.joinable())
            t.join();
    threads_.clear();
}

bool WorkerPool::TakeNext(std::function<void()>& job, std::string& key)
{
    for (auto it = turns_.begin(); it != turns_.end(); ++it) {
        Lane& lane = lanes_[*it];
        if (lane.running >= share_)
            continue;
        key = *it;
        job = std::move(lane.jobs.front());
        lane.jobs.pop();
        ++lane.running;
        turns_.erase(it);
        if (!lane.jobs.empty())
            turns_.push_back(key);
        return true;
    }
    return false;
}

void WorkerPool::Run()
{
    std::unique_lock lock(mu_);
    while (true) {
        std::function<void()> job;
        std::string key;
        while (!TakeNext(job, key)) {
            if (stopping_ && turns_.empty())
                return;
            ready_.wait(lock);
        }
        lock.unlock();
        job();
        job = nullptr;  // what the job holds goes before the lock is taken again
        lock.lock();
        Lane& lane = lanes_[key];
        if (--lane.running == 0 && lane.jobs.empty())
            lanes_.erase(key);
        ready_.notify_all();
    }
}

}  // namespace velmo::detail
