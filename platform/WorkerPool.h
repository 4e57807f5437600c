// A fixed set of threads that run posted jobs, for calls that may block.
// Internal to the platform library.
//
// Jobs are posted under a key (the bus name of the client that called):
// jobs of one key run in order of arrival, keys take turns, and no key
// holds more than its share of the threads at once (half of them, at
// least one), so one client whose calls are slow or many never stops the
// others' calls. Stop ends the threads once the jobs already posted have
// run; jobs posted after Stop are dropped.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

namespace velmo::detail {

class WorkerPool {
public:
    explicit WorkerPool(unsigned threads);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool() { Stop(); }

    void Post(const std::string& key, std::function<void()> job);
    void Stop();

    // The most threads one key holds at once.
    unsigned Share() const { return share_; }

private:
    struct Lane {
        std::queue<std::function<void()>> jobs;
        unsigned running = 0;
    };
    void Run();
    // Takes the next job a key may start now, turn by turn; false when none.
    bool TakeNext(std::function<void()>& job, std::string& key);

    std::mutex mu_;
    std::condition_variable ready_;
    std::map<std::string, Lane> lanes_;
    std::list<std::string> turns_;  // keys with waiting jobs, the next to be served first
    bool stopping_ = false;
    unsigned share_ = 1;
    std::vector<std::thread> threads_;
};

}  // namespace velmo::detail
