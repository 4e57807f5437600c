// The pure AT parsers: string in, values out.
#include "atprotocol/AtParse.h"

#include <gtest/gtest.h>

using namespace velmo::at;

namespace {

struct SendCase {
    const char* response;
    bool expected;
    std::int32_t result;
    bool status;
};

class SendResults : public ::testing::TestWithParam<SendCase> {};

void PrintTo(const SendCase& c, std::ostream* os) { *os << '"' << c.response << '"'; }

TEST_P(SendResults, FollowTheResultTable)
{
    SendOutcome o = ClassifySendResponse(GetParam().response);
    EXPECT_EQ(o.expected, GetParam().expected);
    if (o.expected) {
        EXPECT_EQ(o.result, GetParam().result);
        EXPECT_EQ(o.withStatusText, GetParam().status);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendResults,
    ::testing::Values(SendCase{"+CMGS: 12\r\nOK\r\n", true, 2, false}, SendCase{"ERROR\r\n", true, 1, false},
                      SendCase{"+CMS ERROR: 21\r\n", true, 1, true}, SendCase{"+CMS ERROR: 41\r\n", true, 1, true},
                      SendCase{"+CMS ERROR: 42\r\n", true, 1, true}, SendCase{"+CME ERROR: 111\r\n", true, 1, true},
                      SendCase{"+CMS ERROR: 512\r\n", true, 1, true}, SendCase{"+CMS ERROR: 513\r\n", true, 1, true},
                      SendCase{"+CMS ERROR: 515\r\n", true, 1, true}, SendCase{"+CMS ERROR: 38\r\n", true, 0, true},
                      SendCase{"+CMS ERROR: 42x\r\n", true, 1, true}, SendCase{"+CMS ERROR:\r\n", true, 0, true},
                      SendCase{"+CMS ERROR: abc\r\n", true, 0, true}, SendCase{"+cms error: 42\r\n", true, 1, true},
                      SendCase{"+CMS ERROR: 99999999999\r\n", true, 0, true},
                      SendCase{"timedout reading comport", false, 0, false}, SendCase{"OK\r\n", false, 0, false},
                      SendCase{"", false, 0, false}));

TEST(Cmgr, SecondLineIsThePdu)
{
    EXPECT_EQ(PduOfCmgr("+CMGR: 0,,24\r\n0791AABB\r\nOK\r\n"), "0791AABB");
    EXPECT_EQ(PduOfCmgr("+CMGR: 0,,24\r\n"), "");
    EXPECT_EQ(PduOfCmgr("+CMS ERROR: 321\r\n"), "");
    EXPECT_EQ(PduOfCmgr("timedout reading comport"), "");
}

TEST(Cmti, IndexIsTheSecondField)
{
    struct {
        const char* line;
        const char* storage;  // null: no note
        const char* index;
    } cmti[] = {
        {"+CMTI: \"SM\",3", "SM", "3"},      {"+cmti: \"me\",12", "ME", "12"}, {"+CMTI: \"MT\", 7 ", "MT", "7"},
        {"+CMTI: \"SM\"", nullptr, nullptr}, {"+CMT: ,24", nullptr, nullptr},
    };
    for (const auto& c : cmti) {
        std::optional<StoredNote> note = ParseCmti(c.line);
        ASSERT_EQ(note.has_value(), c.storage != nullptr) << c.line;
        if (note) {
            EXPECT_EQ(note->storage, c.storage) << c.line;
            EXPECT_EQ(note->index, c.index) << c.line;
        }
    }
}

TEST(Cdsi, AStoredReportIsReadLikeAStoredMessage)
{
    std::optional<StoredNote> note = ParseCdsi("+CDSI: \"sr\",12");
    ASSERT_TRUE(note);
    EXPECT_EQ(note->storage, "SR");
    EXPECT_EQ(note->index, "12");
    EXPECT_FALSE(ParseCdsi("+CDSI: \"SM\""));
    EXPECT_FALSE(ParseCdsi("+CMTI: \"SM\",3"));
    EXPECT_FALSE(ParseCmti("+CDSI: \"SM\",3"));
}

TEST(CmgsReference, TheNumberAfterTheColonUpTo255)
{
    const std::pair<const char*, int> table[] = {
        {"+CMGS: 17\r\nOK\r\n", 17},
        {"+CMGS: 0\r\nOK\r\n", 0},
        {"+CMGS: 255,\"26/12/09,10:00:00+04\"\r\nOK\r\n", 255},
        {"\r\n+cmgs:42\r\nOK\r\n", 42},
        {"+CMGS: 256\r\nOK\r\n", -1},
        {"+CMGS: 1234\r\nOK\r\n", -1},
        {"+CMGS:\r\nOK\r\n", -1},
        {"+CMGS: x\r\nOK\r\n", -1},
        {"OK\r\n", -1},
    };
    for (const auto& [reply, reference] : table)
        EXPECT_EQ(ParseCmgsReference(reply), reference) << reply;
}

TEST(ErrorCodes, NumberAfterTheColon)
{
    EXPECT_EQ(ErrorCode("+CME ERROR: 14\r\n"), 14);
    EXPECT_EQ(ErrorCode("+CMS ERROR: 321\r\n"), 321);
    EXPECT_EQ(ErrorCode("+CMS ERROR:\r\n"), -1);
    EXPECT_EQ(ErrorCode("+CME ERROR: SIM busy\r\n"), -1);
    EXPECT_EQ(ErrorCode("ERROR\r\n"), -1);
    EXPECT_EQ(ErrorCode("+CMS ERROR: 99999999999\r\n"), -1);
}

TEST(Listing, MessagesWithTheirPdusAndStatus)
{
    std::vector<ListedMessage> listed =
        ParseCmgl("+CMGL: 1,0,,24\r\n07AA\r\n+CMGL: 4,3,,9\r\n07BB\r\n+CMGL: 7,1,,24\r\n+CMGL: ,1\r\nOK\r\n");
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].index, "1");
    EXPECT_EQ(listed[0].status, 0);
    EXPECT_EQ(listed[0].pdu, "07AA");
    EXPECT_EQ(listed[1].status, 3);
    EXPECT_EQ(listed[2].index, "7");
    EXPECT_EQ(listed[2].pdu, "");  // no PDU line before the next entry
    EXPECT_TRUE(ParseCmgl("OK\r\n").empty());
    EXPECT_TRUE(ParseCmgl("timedout reading comport").empty());
}

struct StateCase {
    const char* line;
    bool solicited;
    int value;
};

TEST(RadioState, SignalRegistrationAndOperator)
{
    EXPECT_EQ(ParseSignal("+CSQ: 17,99"), 17);
    EXPECT_EQ(ParseSignal("+CSQ: 99,99"), 99);
    EXPECT_EQ(ParseSignal("+CSQ: 40,0"), 99);
    EXPECT_EQ(ParseSignal("^RSSI: 14"), 14);
    EXPECT_EQ(ParseSignal("+CSQ:"), 99);
    for (const StateCase& c : {StateCase{"+CREG: 0,1", true, 1}, StateCase{"+CREG: 2,5,\"00C3\",\"B6B9\"", true, 5},
                               StateCase{"+CREG: 1", false, 1}, StateCase{"+CREG: 1,\"00C3\",\"B6B9\",7", false, 1},
                               StateCase{"+CGREG: 3", false, 3}, StateCase{"+CREG: 1", true, 1},
                               StateCase{"+CREG:", false, -1}, StateCase{"+CREG: x,y", true, -1}})
        EXPECT_EQ(ParseRegistration(c.line, c.solicited), c.value) << c.line;
    EXPECT_EQ(ParseOperator("+COPS: 0,0,\"Telekom.de, LTE\",7\r\nOK\r\n"), "Telekom.de, LTE");
    EXPECT_EQ(ParseOperator("+COPS: 0,2,\"26201\"\r\nOK\r\n"), "26201");
    EXPECT_EQ(ParseOperator("+COPS: 0\r\nOK\r\n"), "");
    EXPECT_EQ(ParseOperator("ERROR\r\n"), "");
}

TEST(BeginsWith, ComparesWithoutCaseOverTheGivenLength)
{
    EXPECT_TRUE(BeginsWith("+CRINGX", "+CRING", 5));
    EXPECT_TRUE(BeginsWith("+CRIN", "+CRING", 5));
    EXPECT_FALSE(BeginsWith("+CRI", "+CRING", 5));
    EXPECT_TRUE(BeginsWith("ok\r\n", "OK"));
    EXPECT_FALSE(BeginsWith("O", "OK"));
}

}  // namespace

TEST(SimState, ReadFromWhatCpinAnswers)
{
    struct {
        const char* reply;
        const char* state;
    } cases[] = {
        {"+CPIN: READY\r\nOK\r\n", "ready"},       {"+CPIN: READY\r\n", "ready"},
        {"+cpin: sim pin\r\nOK\r\n", "PIN"},       {"+CPIN: SIM PUK\r\nOK\r\n", "PUK"},
        {"+CPIN: SIM PIN2\r\nOK\r\n", "SIM PIN2"}, {"+CPIN: PH-SIM PIN\r\nOK\r\n", "PH-SIM PIN"},
        {"+CME ERROR: 10\r\n", "absent"},          {"+CME ERROR: SIM not inserted\r\n", "absent"},
        {"+CME ERROR: 13\r\n", "failure"},         {"+CME ERROR: 14\r\n", "busy"},
        {"+CME ERROR: 100\r\n", "unknown"},        {"ERROR\r\n", "unknown"},
        {"+CPIN:\r\nOK\r\n", "unknown"},           {"", "unknown"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSimState(c.reply), c.state) << c.reply;
}

TEST(Registration, WordsForEveryStatus)
{
    EXPECT_EQ(RegistrationWord(ParseRegistration("+CREG: 0,1", true)), "home");
    EXPECT_EQ(RegistrationWord(ParseRegistration("+CREG: 2,5,\"00C3\",\"1A2B\"", true)), "roaming");
    EXPECT_EQ(RegistrationWord(0), "none");
    EXPECT_EQ(RegistrationWord(3), "denied");
    EXPECT_EQ(RegistrationWord(7), "roaming (SMS only)");
    for (int odd : {-1, 9, 11, 1000})
        EXPECT_EQ(RegistrationWord(odd), "unknown") << odd;
}
