// The queue of messages that wait for room: oldest first, a refusal keeps
// the first in place, and one taker at a time.
#include "service/queue/RoomQueue.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using velmo::queue::RoomQueue;

namespace {

GUID Id(unsigned n)
{
    GUID id{};
    id.Data1 = n;
    return id;
}

}  // namespace

TEST(RoomQueue, TakesOldestFirstAndStopsAtTheFirstRefusal)
{
    RoomQueue rooms;
    for (unsigned n = 1; n <= 5; ++n)
        rooms.Park(Id(n));
    std::vector<unsigned> offered;
    int room = 2;
    rooms.Take([&](const GUID& id) {
        offered.push_back(id.Data1);
        return room-- > 0;
    });
    EXPECT_EQ(offered, (std::vector<unsigned>{1, 2, 3}));  // 3 was refused and stays first
    EXPECT_EQ(rooms.Size(), 3u);
    offered.clear();
    rooms.Take([&](const GUID& id) {
        offered.push_back(id.Data1);
        if (id.Data1 == 3)
            rooms.Park(Id(6));  // parked while taking: it waits behind the rest
        return true;
    });
    EXPECT_EQ(offered, (std::vector<unsigned>{3, 4, 5, 6}));
    EXPECT_EQ(rooms.Size(), 0u);
}

TEST(RoomQueue, OneTakerAtATimeTheOtherReturnsAtOnce)
{
    RoomQueue rooms;
    rooms.Park(Id(1));
    std::vector<unsigned> nested;
    rooms.Take([&](const GUID&) {
        std::thread other([&] { rooms.Take([&](const GUID& id) { return nested.push_back(id.Data1), true; }); });
        other.join();
        return true;
    });
    EXPECT_TRUE(nested.empty());
    EXPECT_EQ(rooms.Size(), 0u);
}
