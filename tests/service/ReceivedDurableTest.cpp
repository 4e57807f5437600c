// Messages a modem hands over directly (+CMT) while the service is down
// wait on the line; the next start must store them, not throw them away.
#include "service/GsmSandbox.h"

TEST(ReceivedDurable, WhatTheLineHeldAtStartIsStoredOnce)
{
    GsmSandbox box({}, "1,2");
    {
        Program service({"/DEBUG"}, Divisor(10));
        ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= 1; }, std::chrono::seconds(30)))
            << service.Err();
        StopService(service);
    }
    // The modem keeps direct delivery: both go onto the line with nobody reading.
    box.Control("deliver +4915112345678 while you were away");
    box.Control("deliver +4915187654321 and another one");
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("DELIVER ") == 2; }));

    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 2; }, std::chrono::seconds(30))) << service.Err();
    std::set<std::u16string> bodies;
    for (const std::string& path : box.Files("in")) {
        auto* r = ReadMessage(path);
        bodies.insert(r->Body.str());
        r->Release();
    }
    EXPECT_EQ(bodies, (std::set<std::u16string>{u"while you were away", u"and another one"}));
    // An idle check later nothing more has come in.
    int listings = box.Count("< AT+CMGL=4");
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") > listings; }, std::chrono::seconds(30)));
    EXPECT_EQ(box.Files("in").size(), 2u);
    StopService(service);
}

// in/ cannot be written (here: it is gone) when two messages are handed
// over directly: the device keeps them in files, says so at the stop, and
// the next start stores them once in/ is back.
TEST(ReceivedDurable, WhatCannotBeStoredWaitsInAFileAcrossAStop)
{
    GsmSandbox box({}, "1,2");
    const std::string in = box.Folder("in"), away = box.dir() + "/in-away";
    const std::string spool = box.dir() + "/var/lib/velmo/cellgate/Modem.spool/";
    {
        Program service({"/DEBUG"}, Divisor(10));
        ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= 1; }, std::chrono::seconds(30)))
            << service.Err();
        std::filesystem::rename(in, away);
        box.Control("deliver +4915112345678 first while the disk is away");
        box.Control("deliver +4915187654321 second while the disk is away");
        ASSERT_TRUE(WaitUntil([&] {
            std::error_code ec;
            return std::distance(std::filesystem::directory_iterator(spool, ec), {}) == 2;
        })) << service.Err();
        StopService(service);
        EXPECT_NE(service.Err().find("2 received messages that the service could not store yet wait in " + spool),
                  std::string::npos)
            << service.Err();
    }
    std::filesystem::rename(away, in);
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 2; }, std::chrono::seconds(30))) << service.Err();
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::is_empty(spool); }));
    std::vector<std::u16string> bodies;
    for (const std::string& path : box.Files("in")) {
        auto* r = ReadMessage(path);
        bodies.push_back(r->Body.str());
        r->Release();
    }
    std::sort(bodies.begin(), bodies.end());
    EXPECT_EQ(bodies, (std::vector<std::u16string>{u"first while the disk is away", u"second while the disk is away"}));
    StopService(service);
}

// Direct delivery with acknowledgement: a message that can be neither
// stored nor spooled is not acknowledged, so the network delivers it again,
// and it is stored once it can be; no copy is held in memory to come twice.
TEST(ReceivedDurable, WhatIsNotKeptIsNotAcknowledgedAndComesAgain)
{
    GsmSandbox box({"--cnma-wait=500"}, "1,2");
    const std::string in = box.Folder("in"), away = box.dir() + "/in-away";
    const std::string spool = box.dir() + "/var/lib/velmo/cellgate/Modem.spool";
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= 1; }, std::chrono::seconds(30))) << service.Err();
    EXPECT_NE(service.Err().find("the device acknowledges each one (AT+CNMA) only once it is kept"), std::string::npos)
        << service.Err();
    std::filesystem::rename(in, away);
    std::filesystem::create_directories(box.dir() + "/var/lib/velmo/cellgate");
    std::ofstream(spool) << "not a folder";  // the spool cannot be made either
    box.Control("deliver +4915112345678 kept only by the network");
    ASSERT_TRUE(WaitUntil([&] { return box.Count("UNACKNOWLEDGED") >= 2; })) << box.Transcript();
    EXPECT_EQ(box.Count("ACKNOWLEDGED"), 0);
    std::filesystem::remove(spool);
    std::filesystem::rename(away, in);
    ASSERT_TRUE(WaitUntil([&] { return box.Count("ACKNOWLEDGED") == 1; })) << box.Transcript() << service.Err();
    // Acknowledged once kept: in in/, or in the spool that in/ then takes from.
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1; })) << service.Err();
    // Two idle checks later it is still there once.
    int listings = box.Count("< AT+CMGL=4");
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= listings + 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(box.Files("in").size(), 1u);
    auto* r = ReadMessage(box.Files("in")[0]);
    EXPECT_EQ(r->Body.str(), u"kept only by the network");
    r->Release();
    StopService(service);
}
