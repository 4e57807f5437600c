// A fixed set of threads that run posted jobs in order of arrival, for
// calls that may block. Internal to the platform library. Stop ends the
// threads once the jobs already posted have run; jobs posted after Stop are
// dropped.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmo::detail {

class WorkerPool {
public:
    explicit WorkerPool(unsigned threads);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { Stop(); }

    void Post(std::function<void()> job);
    void Stop();

private:
    void Run();

    std::mutex mu_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace velmo::detail
