// velmosvc with the GSM device on modemsim, in a sandbox made by
// scripts/sandbox: messages out through AT+CMGS and in through +CMT and
// +CMTI, and the modem's error answers.
#include "service/GsmSandbox.h"

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

// Test-only: the fixed waits a hundred times shorter (60 s modem replies: 600 ms).
const std::vector<std::pair<std::string, std::string>> kFast = {{"VELMO_TEST_TIME_DIVISOR", "100"}};

// 0640: what the running service writes.
constexpr auto kPrivateFile =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read;

TEST(GsmFlow, MessagesLeaveThroughTheModemAndErrorsAreRecorded)
{
    GsmSandbox box({"--cmgs=ok,cms:38,cms:42,ok"});
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", u"Disk full on db1");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; })) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234567 Disk full on db1"), 1);
    // The service's files are for its user and group only.
    EXPECT_EQ(std::filesystem::status(box.Files("out/sent")[0]).permissions(), kPrivateFile);

    box.Drop(u"+491711234568", u"refused by the network");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/failed").size() == 1; })) << service.Err();
    MessageRecord* failed = ReadMessage(box.Files("out/failed")[0]);
    EXPECT_EQ(failed->Status, FAILED);
    EXPECT_EQ(failed->StatusText.str(), u"+CMS ERROR: 38\r\n");
    failed->Release();

    box.Drop(u"+491711234569", u"retried once");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 2; })) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234569 retried once"), 2);
    for (const std::string& path : box.Files("out/sent")) {
        MessageRecord* sent = ReadMessage(path);
        EXPECT_EQ(sent->Status, SENT);
        if (sent->Body.str() == u"retried once") {
            EXPECT_EQ(sent->RetryCount, 1);
            EXPECT_EQ(sent->StatusText.str(), u"+CMS ERROR: 42\r\n");
        }
        sent->Release();
    }
    StopService(service);
}

struct InboundCase {
    const char* name;
    std::string cnmi;
};

void PrintTo(const InboundCase& c, std::ostream* os) { *os << c.name; }

class GsmInbound : public ::testing::TestWithParam<InboundCase> {};

TEST_P(GsmInbound, ReceivedMessageIsStoredInIn)
{
    GsmSandbox box({}, GetParam().cnmi);
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
    box.Control("deliver +4915112345678 Is db1 back?");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1; })) << service.Err();
    EXPECT_EQ(std::filesystem::status(box.Files("in")[0]).permissions(), kPrivateFile);
    MessageRecord* in = ReadMessage(box.Files("in")[0]);
    EXPECT_EQ(in->Status, RECEIVED);
    EXPECT_EQ(in->From.str(), u"+4915112345678");
    EXPECT_EQ(in->Body.str(), u"Is db1 back?");
    EXPECT_TRUE(in->To.IsNull());
    EXPECT_NE(in->Received.wYear, 0);
    in->Release();
    // A stored message is deleted from the SIM once it is in in/.
    int deletes = GetParam().cnmi == "1,1" ? 1 : 0;
    EXPECT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGD=1") == deletes; }));
    EXPECT_EQ(box.Count("< AT+CMGR=1"), deletes);
    StopService(service);
    EXPECT_EQ(box.Count("< AT+CMGD=1"), deletes);
}

INSTANTIATE_TEST_SUITE_P(Indications, GsmInbound,
                         ::testing::Values(InboundCase{"DirectWithCmt", "1,2"}, InboundCase{"StoredWithCmti", "1,1"}));

}  // namespace
