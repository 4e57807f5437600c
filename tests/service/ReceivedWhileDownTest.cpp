// Messages a modem hands over directly (+CMT) while the service is down
// wait on the line; the next start must store them, not throw them away.
#include "service/GsmSandbox.h"

TEST(ReceivedWhileDown, WhatTheLineHeldAtStartIsStoredOnce)
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
