#include "atprotocol/ModemCapabilities.h"

#include <gtest/gtest.h>

namespace {

using namespace velmo::at;

// Replies as real modems give them, and the setting the device then asks for.
TEST(ModemCapabilities, CnmiChoiceFollowsWhatTheModemAllows)
{
    struct Case {
        const char* reply;
        const char* configured;
        Notification kind;
        const char* setting;
    } cases[] = {
        {"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\nOK", "2,1", Notification::StoreAndAnnounce, "2,1"},
        {"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)", "1,2,0,0,0", Notification::StoreAndAnnounce, "1,1"},
        {"+CNMI: (0,1),(0,2),(0),(0),(0)", "2,1", Notification::Direct, "1,2"},  // no store-and-announce, no mode 2
        {"+CNMI: (2),(0,1,2,3),(0),(0,1,2),(0,1)", "1,1", Notification::StoreAndAnnounce, "2,1"},
        {"+CNMI: (1,2),(0),(0),(0),(0)", "2,1", Notification::None, ""},  // announces nothing
        {"+CNMI: (0),(0-3),(0),(0),(0)", "2,1", Notification::None, ""},  // mode 0 only buffers
        {"+CNMI: 0,1", "2,1", Notification::None, ""},                    // no lists at all
        {"+CNMI: (1-2),(1)", "", Notification::StoreAndAnnounce, "2,1"},
        {"+CNMI: (a-2),(1-99999)", "2,1", Notification::None, ""},  // garbage numbers
    };
    for (const Case& c : cases) {
        std::optional<CnmiSupport> support = ParseCnmiTest(c.reply);
        CnmiChoice choice = support ? ChooseCnmi(*support, c.configured) : CnmiChoice{};
        EXPECT_EQ(choice.kind, c.kind) << c.reply;
        EXPECT_EQ(choice.setting, c.setting) << c.reply;
    }
    EXPECT_FALSE(ParseCnmiTest("ERROR"));
    EXPECT_FALSE(ParseCnmiTest("+CNMI: (0-2"));
    EXPECT_FALSE(ParseCnmiTest(""));
}

TEST(ModemCapabilities, NotificationOfASetting)
{
    struct Case {
        const char* setting;
        Notification kind;
    } cases[] = {
        {"2,1,0,0,0", Notification::StoreAndAnnounce},
        {"1,1", Notification::StoreAndAnnounce},
        {"2,2,0,0,0", Notification::Direct},
        {"2,3", Notification::Direct},
        {"2,0", Notification::None},
        {"2", Notification::None},
        {"", Notification::None},
        {"2,x", Notification::None},
        {"2,0-1", Notification::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NotificationOf(c.setting), c.kind) << c.setting;
}

TEST(ModemCapabilities, StoragesOfferedAndRead)
{
    struct Case {
        const char* reply;
        std::vector<std::string> offered;
        std::vector<std::string> read;
    } cases[] = {
        {"+CPMS: (\"SM\",\"ME\",\"MT\"),(\"SM\",\"ME\"),(\"SM\")\r\nOK", {"SM", "ME", "MT"}, {"SM", "ME"}},
        {"+CPMS: (\"ME\",\"SM\"),(\"ME\"),(\"ME\")", {"ME", "SM"}, {"SM", "ME"}},
        {"+CPMS: (\"MT\",\"BM\",\"SR\"),(\"MT\"),(\"MT\")", {"MT", "BM", "SR"}, {"MT"}},
        {"+CPMS: (\"me\", \"sm\")", {"ME", "SM"}, {"SM", "ME"}},
        {"+CPMS: (\"BM\",\"SR\")", {"BM", "SR"}, {}},
        {"+CPMS: \"SM\",\"ME\"", {}, {}},
        {"ERROR", {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> offered = ParseStorageList(c.reply);
        EXPECT_EQ(offered, c.offered) << c.reply;
        EXPECT_EQ(ReceiveStorages(offered), c.read) << c.reply;
    }
}

// The values a query or identity command answers, or empty when it does not.
TEST(ModemCapabilities, QueryAnswers)
{
    struct Case {
        std::string (*parse)(std::string_view);
        const char* reply;
        const char* value;
    } cases[] = {
        {ParseCurrentStorage, "+CPMS: \"SM\",3,30,\"SM\",3,30,\"SM\",3,30\r\nOK", "SM"},
        {ParseCurrentStorage, "+CPMS: \"me\",0,100", "ME"},
        {ParseCurrentStorage, "+CMS ERROR: 302", ""},
        {ParseServiceCentre, "+CSCA: \"+491710760000\",145\r\nOK", "+491710760000"},
        {ParseServiceCentre, "+CSCA: \"\",129", ""},
        {ParseServiceCentre, "ERROR", ""},
        {ParseIdentity, "QUALCOMM INCORPORATED\r\nOK", "QUALCOMM INCORPORATED"},
        {ParseIdentity, "+CGMI: \"huawei\"\r\nOK", "huawei"},
        {ParseIdentity, "\r\n  SIMCOM_SIM800L  \r\nOK", "SIMCOM_SIM800L"},
        {ParseIdentity, "+CGSN: 356938035643809", "356938035643809"},
        {ParseIdentity, "OK", ""},
        {ParseIdentity, "ERROR", ""},
        {ParseIdentity, "+CME ERROR: 10", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.parse(c.reply), c.value) << c.reply;
    EXPECT_EQ(ParseIdentity(std::string(500, 'x')).size(), kIdentityLimit);
}

}  // namespace
