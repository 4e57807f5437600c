// The pure AT parsers: string in, values out.
#include "devices/gsm/AtParse.h"

#include <gtest/gtest.h>

using namespace velmo::gsm;

namespace {

struct SortCase {
    const char* name;
    std::string delivery;
    std::string response;
    std::vector<std::pair<InboundNote::Kind, std::string>> notes;
};

void PrintTo(const SortCase& c, std::ostream* os) { *os << c.name; }

class Sorting : public ::testing::TestWithParam<SortCase> {};

TEST_P(Sorting, LinesGoToTheResponseOrTheInboundList)
{
    const SortCase& c = GetParam();
    SortedDelivery sorted = SortDelivery(c.delivery);
    EXPECT_EQ(sorted.response, c.response);
    std::vector<std::pair<InboundNote::Kind, std::string>> notes;
    for (auto& n : sorted.notes)
        notes.emplace_back(n.kind, n.value);
    EXPECT_EQ(notes, c.notes);
}

INSTANTIATE_TEST_SUITE_P(
    Deliveries, Sorting,
    ::testing::Values(
        SortCase{"PinReady", "\r\n+CPIN: READY\r\n\r\nOK\r\n", "+CPIN: READY\r\nOK\r\n", {}},
        SortCase{"StoredIndex", "\r\n+CMTI: \"SM\",3\r\n", "", {{InboundNote::StoredIndex, "3"}}},
        SortCase{"StoredIndexWithoutIndex", "\r\n+CMTI: \"SM\"\r\n", "", {}},
        SortCase{"DirectPduTakesTheNextLine", "\r\n+CMT: ,24\r\n0791AB\r\nOK\r\n", "OK\r\n",
                 {{InboundNote::DirectPdu, "0791AB"}}},
        SortCase{"DirectPduHeaderAtTheEnd", "\r\n+CMT: ,24\r\n", "", {}},
        SortCase{"PduLineAloneIsOrdinary", "0791AB\r\n", "0791AB\r\n", {}},
        SortCase{"UnsolicitedLinesDropped", "RING\r\n+CRING: VOICE\r\nNO CARRIER\r\n> \r\n", "", {}},
        SortCase{"CrinPrefixOfFiveCounts", "+CRINX\r\n", "", {}},
        SortCase{"StatusReportDropsOnlyItself", "+CDS: 6,1\r\n0791AA\r\nOK\r\n", "0791AA\r\nOK\r\n", {}},
        SortCase{"PromptThenAnswer", "\r\n> \r\n+CMGS: 5\r\n\r\nOK\r\n", "+CMGS: 5\r\nOK\r\n", {}},
        SortCase{"LowerCaseStillClassified", "+cmti: \"ME\",12\r\nring\r\n", "", {{InboundNote::StoredIndex, "12"}}},
        SortCase{"OnlyLineBreaks", "\r\n\r\n\n\r", "", {}}));

TEST(Echo, EchoedAndPlainOkAcceptedAndTheRestRefused)
{
    EXPECT_TRUE(EchoAccepted("ATE0\r\r\nOK\r\n"));
    EXPECT_TRUE(EchoAccepted("ATE0\r\r\nO"));
    EXPECT_TRUE(EchoAccepted("\r\nOK\r\n"));
    EXPECT_TRUE(EchoAccepted("ate0\r\r\nok"));
    EXPECT_FALSE(EchoAccepted(""));
    EXPECT_FALSE(EchoAccepted("ATE0\r\r\n"));
    EXPECT_FALSE(EchoAccepted("\r\nERROR\r\n"));
    EXPECT_FALSE(EchoAccepted("OK\r\n"));
}

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

TEST(BeginsWith, ComparesWithoutCaseOverTheGivenLength)
{
    EXPECT_TRUE(BeginsWith("+CRINGX", "+CRING", 5));
    EXPECT_TRUE(BeginsWith("+CRIN", "+CRING", 5));
    EXPECT_FALSE(BeginsWith("+CRI", "+CRING", 5));
    EXPECT_TRUE(BeginsWith("ok\r\n", "OK"));
    EXPECT_FALSE(BeginsWith("O", "OK"));
}

} // namespace
