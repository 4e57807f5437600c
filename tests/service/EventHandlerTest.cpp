// The handler chain for received messages, with the test handler module.
#include "platform/SystemTime.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "service/host/ServiceModule.h"

#include <cstdio>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

GUID H(int n)
{
    char text[40];
    std::snprintf(text, sizeof text, "{7E570001-0000-4000-8000-00000000000%d}", n);
    return *velmo::ParseGuid(std::string_view(text));
}

class Handlers : public ::testing::Test {
protected:
    Handlers()
    {
        std::string error;
        HMODULE m = velmo::LoadModule(VELMO_TEST_HANDLERS, &error);
        auto reg = reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(m, "DllRegisterServer"));
        EXPECT_EQ(reg(), S_OK);
        log = root.path() + "/handlers.log";
        setenv("VELMO_TEST_HANDLER_LOG", log.c_str(), 1);
    }
    ~Handlers() override
    {
        module.eventHandlers.Stop();
        unsetenv("VELMO_TEST_HANDLER_LOG");
    }
    // What a device's report makes of a received message.
    MessageRecord* Receive(const char16_t* from, const char16_t* body)
    {
        auto* r = new MessageRecord();
        r->Initialise();
        r->From = Bstr(from);
        r->Body = Bstr(body);
        r->Status = RECEIVED;
        GetSystemTime(&r->Received);
        EXPECT_EQ(module.eventHandlers.StoreIncoming(r), S_OK);
        return r;
    }
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(log);
        for (std::string l; std::getline(in, l);)
            lines.push_back(l.substr(0, l.find(" date=")));
        return lines;
    }
    ServiceRoot root;
    std::string log;
    velmo::host::ServiceModule module{root.root()};
};

struct ChainCase {
    const char* name;
    std::vector<int> handlers;  // 0: a class nobody registered
    std::vector<std::string> called;
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

class Chain : public Handlers, public ::testing::WithParamInterface<ChainCase> {};

TEST_P(Chain, EndsAtTheFirstBreak)
{
    for (int n : GetParam().handlers)
        module.eventHandlers.AddHandler(n ? H(n) : velmo::MakeGuid("{0BADC1A5-0000-0000-0000-000000000000}"));
    module.eventHandlers.AddHandler(H(6));  // a last handler that marks the end of the chain when reached
    module.eventHandlers.Start();
    Receive(u"+4915", u"hello")->Release();
    std::vector<std::string> expected;
    for (const std::string& h : GetParam().called)
        expected.push_back(h + " from=+4915 body=hello to=");
    bool broken = std::find(GetParam().handlers.begin(), GetParam().handlers.end(), 2) != GetParam().handlers.end();
    if (!broken)
        expected.push_back("H6 from=+4915 body=hello to=");
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() >= expected.size(); })) << Lines().size();
    module.eventHandlers.Stop();
    EXPECT_EQ(Lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Handlers, Chain,
                         ::testing::Values(ChainCase{"ContinueThenBreak", {1, 2, 3}, {"H1", "H2"}},
                                           ChainCase{"UnregisteredSkipped", {0, 1}, {"H1"}},
                                           ChainCase{"ErrorCountsAsGoingOn", {4, 1}, {"H4", "H1"}},
                                           ChainCase{"WithoutOnIncomingSkipped", {5, 3}, {"H3"}}));

TEST_F(Handlers, MessagesAreOfferedOneAfterTheOtherInOrder)
{
    module.eventHandlers.AddHandler(H(6));  // slow
    module.eventHandlers.AddHandler(H(1));
    module.eventHandlers.Start();
    Receive(u"+1", u"first")->Release();
    Receive(u"+2", u"second")->Release();
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 4; }));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"H6 from=+1 body=first to=", "H1 from=+1 body=first to=",
                                                 "H6 from=+2 body=second to=", "H1 from=+2 body=second to="}));
}

// A handler hears only the senders its lists let in; the message is stored
// all the same, and each kept-out sender is said once.
TEST_F(Handlers, AHandlerHearsOnlyWhomItsListsLetIn)
{
    std::string error;
    module.eventHandlers.AddHandler(H(1), *velmo::handlers::SenderFilter::Parse("+4917*", "+4917666*", error));
    module.eventHandlers.AddHandler(H(6));
    EventCapture events;
    module.eventHandlers.Start();
    for (const char16_t* from : {u"+491711", u"+4930", u"+491766612", u"+4930"})
        Receive(from, u"status")->Release();
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 5; })) << Lines().size();
    module.eventHandlers.Stop();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"H1 from=+491711 body=status to=", "H6 from=+491711 body=status to=",
                                                 "H6 from=+4930 body=status to=", "H6 from=+491766612 body=status to=",
                                                 "H6 from=+4930 body=status to="}));
    EXPECT_EQ(root.Files("in").size(), 4u);
    const std::string handler = velmo::GuidToUtf8(H(1));
    EXPECT_EQ(events.Count("Messages from +4930 are not offered to the event handler " + handler +
                           ": the sender is not on its allow list"),
              1)
        << events.Text();
    EXPECT_EQ(events.Count("Messages from +491766612 are not offered to the event handler " + handler +
                           ": the sender is on its deny list"),
              1)
        << events.Text();
}

TEST_F(Handlers, DateIsTheReceptionTimeOfTheStoredFile)
{
    module.eventHandlers.AddHandler(H(1));
    module.eventHandlers.Start();
    MessageRecord* r = Receive(u"+4915", u"when");
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 1; }));
    auto* stored = new MessageRecord();
    ASSERT_EQ(stored->LoadFromFile(root.root() + u"in/" + r->FileName()), S_OK);
    DATE expected = 0;
    SystemTimeToVariantTime(&stored->Received, &expected);
    std::ifstream in(log);
    std::string line;
    std::getline(in, line);
    double date = std::stod(line.substr(line.find("date=") + 5));
    EXPECT_NEAR(date, expected, 1e-8);
    stored->Release();
    r->Release();
}

TEST_F(Handlers, WithoutHandlersMessagesAreStillStored)
{
    module.eventHandlers.Start();
    Receive(u"+4915", u"kept")->Release();
    ASSERT_TRUE(WaitUntil([&] { return module.eventHandlers.PendingCount() == 0; }));
    EXPECT_EQ(root.Files("in").size(), 1u);
    EXPECT_TRUE(Lines().empty());
}

}  // namespace

namespace {

// A queue that stopped (or was killed) before its handlers had every
// stored message: the next start offers what they missed, oldest first,
// ahead of what comes later, and each exactly once.
TEST_F(Handlers, WhatTheHandlersMissedIsOfferedAtTheNextStartInOrder)
{
    // Stored by a service that never ran its handlers: received 2, then 1.
    {
        velmo::host::ServiceModule before{root.root()};
        for (const char16_t* from : {u"+2", u"+1"}) {
            auto* r = new MessageRecord();
            r->Initialise();
            r->From = Bstr(from);
            r->Body = Bstr(u"missed");
            r->Status = RECEIVED;
            GetSystemTime(&r->Received);
            if (from[1] == u'1')
                r->Received.wYear = 2001;  // received long before the other
            ASSERT_EQ(before.store.StoreReceived(*r), S_OK);
            r->Release();
        }
    }
    // A mark whose message never reached in/ (a kill between the two writes).
    std::ofstream(root.folderPath("in") + "{7E570001-0000-4000-8000-0000000000FF}.offer");
    ASSERT_EQ(module.store.AwaitingHandlers().size(), 2u);

    module.eventHandlers.AddHandler(H(1));
    EventCapture events;
    module.eventHandlers.Start();
    Receive(u"+3", u"new")->Release();
    ASSERT_TRUE(WaitUntil([&] { return Lines().size() == 3 && module.store.AwaitingHandlers().empty(); }));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "H1 from=+1 body=missed to=", "H1 from=+2 body=missed to=", "H1 from=+3 body=new to="}));
    EXPECT_NE(events.Text().find("2 received messages had not been offered to the handlers: they are offered now"),
              std::string::npos)
        << events.Text();
    EXPECT_FALSE(std::filesystem::exists(root.folderPath("in") + "{7E570001-0000-4000-8000-0000000000FF}.offer"));
    EXPECT_EQ(root.Files("in").size(), 3u);

    // Offered once: a restart finds nothing waiting.
    module.eventHandlers.Stop();
    velmo::host::ServiceModule after{root.root()};
    EXPECT_TRUE(after.store.AwaitingHandlers().empty());
}

}  // namespace
