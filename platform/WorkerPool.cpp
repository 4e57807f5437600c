#include "platform/WorkerPool.h"

namespace velmo::detail {

WorkerPool::WorkerPool(unsigned threads)
{
    for (unsigned i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Run(); });
}

void WorkerPool::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(mu_);
        if (stopping_)
            return;
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
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

void WorkerPool::Run()
{
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock lock(mu_);
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace velmo::detail
