// A test of PgStore objects on a throwaway cluster: stores made as any host,
// each logging to one record of events.
#pragma once

#include "service/WithPgCluster.h"
#include "service/pgstore/PgStore.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Keeps every event, for the tests that look at the log.
class PgEvents final : public velmo::events::EventSink {
public:
    void Report(WORD, const std::string& text) override
    {
        std::lock_guard<std::mutex> hold(lock_);
        lines_.push_back(text);
    }
    // The lines that hold part.
    int Count(const std::string& part)
    {
        std::lock_guard<std::mutex> hold(lock_);
        int n = 0;
        for (const std::string& line : lines_)
            n += line.find(part) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

class WithPgStores : public WithPgCluster {
protected:
    // An opened store of host; a test fails when it does not open.
    std::unique_ptr<velmo::pgstore::PgStore> Store(const std::string& host, std::uint32_t lease = 120,
                                                   std::string journal = "")
    {
        auto store = std::make_unique<velmo::pgstore::PgStore>(
            events_, velmo::pgstore::PgSettings{cluster_.ConnInfo(), host, lease, 2, journal});
        std::string why;
        EXPECT_EQ(store->Open(why), S_OK) << why;
        return store;
    }
    PgEvents events_;
};
