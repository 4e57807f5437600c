// Reply framing and the unsolicited-code table: bytes in, replies, unsolicited
// lines and stray lines out.
#include "atprotocol/AtFraming.h"

#include <gtest/gtest.h>

using namespace velmo::at;

namespace {

struct FrameCase {
    const char* name;
    std::optional<std::pair<std::string, AtExpect>> pending;  // the command line and what it expects
    std::vector<std::string> reads;                           // the modem's bytes, as the reads gave them
    std::string reply;                                        // "" : no reply; "PROMPT" for the prompt
    std::vector<std::string> unsolicited;                     // "line" or "line#pdu"
    std::vector<std::string> stray;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

std::pair<std::string, AtExpect> Cmd(std::string line, std::vector<std::string> prefixes = {}, bool pdu = false,
                                     bool prompt = false)
{
    return {std::move(line), AtExpect{std::move(prefixes), pdu, prompt}};
}

class Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Framing, SortsWhatTheModemSays)
{
    const FrameCase& c = GetParam();
    AtFraming framing;
    if (c.pending)
        framing.Begin(c.pending->first, c.pending->second);
    std::string reply;
    int replies = 0;
    std::vector<std::string> unsolicited, stray;
    for (const std::string& read : c.reads) {
        FramedOutput out = framing.Feed(read);
        if (out.reply) {
            ++replies;
            reply = out.reply->prompt ? "PROMPT" : out.reply->text;
        }
        for (auto& u : out.unsolicited)
            unsolicited.push_back(u.code->pduFollows ? u.line + "#" + u.pdu : u.line);
        for (auto& s : out.stray)
            stray.push_back(s);
    }
    EXPECT_EQ(reply, c.reply);
    EXPECT_LE(replies, 1);
    EXPECT_EQ(unsolicited, c.unsolicited);
    EXPECT_EQ(stray, c.stray);
    if (!c.reply.empty()) {
        EXPECT_FALSE(framing.Pending());
    }
}

const std::string kLong(5000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Modems, Framing,
    ::testing::Values(
        FrameCase{
            "OneReply", Cmd("AT+CPIN?\r", {"+CPIN:"}), {"\r\n+CPIN: READY\r\n\r\nOK\r\n"}, "+CPIN: READY\r\nOK\r\n"},
        FrameCase{"LinesSplitAcrossReads",
                  Cmd("AT+CSMS=0\r", {"+CSMS:"}),
                  {"\r\n+CSMS: 1,1", ",1\r\n", "\r\nO", "K\r\n"},
                  "+CSMS: 1,1,1\r\nOK\r\n"},
        FrameCase{"InformationWithoutFinalIsNoReply", Cmd("AT+CSMS=0\r", {"+CSMS:"}), {"\r\n+CSMS: 1,1,1\r\n"}, ""},
        FrameCase{"EchoSkipped", Cmd("ATE0\r"), {"ATE0\r\r\nOK\r\n"}, "OK\r\n"},
        FrameCase{"NulsAndControlsDropped",
                  Cmd("AT\r"),
                  {std::string("\0\0\r\n\x01O", 6), std::string("K\0\r\n", 4)},
                  "OK\r\n"},
        FrameCase{"ErrorsAreFinal", Cmd("AT+CMGD=3\r"), {"\r\n+CMS ERROR: 321\r\n"}, "+CMS ERROR: 321\r\n"},
        FrameCase{"CmeErrorFinal", Cmd("AT+CPIN=\"1\"\r"), {"\r\n+CME ERROR: 16\r\n"}, "+CME ERROR: 16\r\n"},
        FrameCase{"UnsolicitedInsideAReply",
                  Cmd("AT+CMGR=1\r", {"+CMGR:"}, true),
                  {"\r\n+CREG: 1\r\n+CMGR: 0,,24\r\n0791AB\r\n+CSQ: 17,99\r\n\r\nOK\r\n"},
                  "+CMGR: 0,,24\r\n0791AB\r\nOK\r\n",
                  {"+CREG: 1", "+CSQ: 17,99"}},
        FrameCase{"AnswerPrefixWinsOverTheTable",
                  Cmd("AT+CSQ\r", {"+CSQ:"}),
                  {"\r\n+CSQ: 20,99\r\n\r\nOK\r\n"},
                  "+CSQ: 20,99\r\nOK\r\n"},
        FrameCase{"UnsolicitedBeforeThePrompt",
                  Cmd("AT+CMGS=19\r", {}, false, true),
                  {"\r\n+CIEV: 2,3\r\n\r\n> "},
                  "PROMPT",
                  {"+CIEV: 2,3"}},
        FrameCase{"PromptWithALineEnd", Cmd("AT+CMGS=19\r", {}, false, true), {"\r\n> \r\n"}, "PROMPT"},
        FrameCase{"PromptInItsOwnRead", Cmd("AT+CMGS=19\r", {}, false, true), {"\r\n", ">", " "}, "PROMPT"},
        FrameCase{"ErrorInsteadOfThePrompt",
                  Cmd("AT+CMGS=19\r", {}, false, true),
                  {"\r\n+CMS ERROR: 304\r\n"},
                  "+CMS ERROR: 304\r\n"},
        FrameCase{"PromptNotAwaitedIsDropped", std::nullopt, {"\r\n> \r\n"}, ""},
        FrameCase{"PduAnswerAfterItsEcho",
                  Cmd("0011000B\x1a", {"+CMGS:"}),
                  {"0011000B\x1a\r\n+CMGS: 7\r\n\r\nOK\r\n"},
                  "+CMGS: 7\r\nOK\r\n"},
        FrameCase{"DirectMessageAcrossReads",
                  std::nullopt,
                  {"\r\n+CMT: ,24\r\n", "0791AB12\r\n"},
                  "",
                  {"+CMT: ,24#0791AB12"}},
        FrameCase{"DirectMessageDuringACommand",
                  Cmd("AT+CSQ\r", {"+CSQ:"}),
                  {"\r\n+CMT: ,24\r\n0791AB12\r\n+CSQ: 5,99\r\nOK\r\n"},
                  "+CSQ: 5,99\r\nOK\r\n",
                  {"+CMT: ,24#0791AB12"}},
        FrameCase{"DirectMessageWithoutItsPdu", Cmd("AT\r"), {"\r\n+CMT: ,24\r\nOK\r\n"}, "OK\r\n", {"+CMT: ,24#"}},
        FrameCase{"StatusReportTakesItsPduLine", std::nullopt, {"+CDS: 6\r\n0791AA\r\n"}, "", {"+CDS: 6#0791AA"}},
        FrameCase{"StoredIndication", std::nullopt, {"\r\n+CMTI: \"SM\",3\r\n"}, "", {"+CMTI: \"SM\",3"}},
        FrameCase{"StrayFinalWhileIdle", std::nullopt, {"\r\nOK\r\n"}, "", {}, {"OK"}},
        FrameCase{"UnknownLineDuringACommand",
                  Cmd("AT+CSQ\r", {"+CSQ:"}),
                  {"\r\n+FOO: 1\r\n+CSQ: 20,99\r\nOK\r\n"},
                  "+CSQ: 20,99\r\nOK\r\n",
                  {},
                  {"+FOO: 1"}},
        FrameCase{
            "NoCarrierAndRingWhileIdle", std::nullopt, {"\r\nNO CARRIER\r\nRING\r\n"}, "", {"NO CARRIER", "RING"}},
        FrameCase{"CallProgressDuringAnSmsCommandIsUnsolicited",
                  Cmd("AT+CMGS=19\r", {}, false, true),
                  {"\r\nRING\r\nNO CARRIER\r\nBUSY\r\n> "},
                  "PROMPT",
                  {"RING", "NO CARRIER", "BUSY"}},
        FrameCase{"CallProgressEndsADial",
                  std::make_pair(std::string("ATD123;\r"), AtExpect{{}, false, false, true}),
                  {"\r\nNO CARRIER\r\n"},
                  "NO CARRIER\r\n"},
        FrameCase{"VendorLinesAreKnown",
                  std::nullopt,
                  {"^BOOT:1,0,0,4,0\r\n^RSSI: 14\r\n+CUSD: 0,\"x\",15\r\nRDY\r\n"},
                  "",
                  {"^BOOT:1,0,0,4,0", "^RSSI: 14", "+CUSD: 0,\"x\",15", "RDY"}},
        FrameCase{"OverlongLineIsCut",
                  std::nullopt,
                  {"\r\n+CUSD: 0,\"" + kLong + "\",15\r\n"},
                  "",
                  {"+CUSD: 0,\"" + kLong.substr(0, AtFraming::kMaxLine - 10)}},
        FrameCase{"ListingWithPdus",
                  Cmd("AT+CMGL=4\r", {"+CMGL:"}, true),
                  {"\r\n+CMGL: 1,0,,24\r\n07AA\r\n+CMGL: 2,1,,24\r\n07BB\r\n\r\nOK\r\n"},
                  "+CMGL: 1,0,,24\r\n07AA\r\n+CMGL: 2,1,,24\r\n07BB\r\nOK\r\n"},
        FrameCase{"BlankLinesVanish", Cmd("AT\r"), {"\r\n   \r\n\r\nOK  \r\n"}, "OK  \r\n"}));

TEST(FramingSequence, AnAbandonedCommandsLateReplyIsStray)
{
    AtFraming framing;
    framing.Begin("AT+CSQ\r", {{"+CSQ:"}});
    EXPECT_FALSE(framing.Feed("\r\n+CSQ: 20,99\r\n").reply);
    framing.Abandon();
    FramedOutput late = framing.Feed("OK\r\n");
    EXPECT_FALSE(late.reply);
    EXPECT_EQ(late.stray, std::vector<std::string>{"OK"});
    framing.Begin("AT\r", {});
    FramedOutput next = framing.Feed("\r\nOK\r\n");
    ASSERT_TRUE(next.reply);
    EXPECT_EQ(next.reply->text, "OK\r\n");
}

TEST(FramingSequence, TextAfterThePromptStaysForTheNextLine)
{
    AtFraming framing;
    framing.Begin("AT+CMGS=5\r", {{}, false, true});
    FramedOutput prompt = framing.Feed("\r\n> +CMG");
    ASSERT_TRUE(prompt.reply);
    EXPECT_TRUE(prompt.reply->prompt);
    framing.Begin("00AB\x1a", {{"+CMGS:"}});
    FramedOutput answer = framing.Feed("S: 4\r\n\r\nOK\r\n");
    ASSERT_TRUE(answer.reply);
    EXPECT_EQ(answer.reply->text, "+CMGS: 4\r\nOK\r\n");
    EXPECT_EQ(answer.reply->final, Final::Ok);
}

TEST(FramingSequence, AReplyNeverGrowsPastItsLimit)
{
    AtFraming framing;
    framing.Begin("AT+CMGL=4\r", {{"+CMGL:"}});
    std::string line = "+CMGL: " + std::string(AtFraming::kMaxLine - 7, '1') + "\r\n";
    for (std::size_t i = 0; i < 2 * AtFraming::kMaxReply / line.size(); ++i)
        EXPECT_FALSE(framing.Feed(line).reply);
    FramedOutput out = framing.Feed("OK\r\n");
    ASSERT_TRUE(out.reply);
    EXPECT_LE(out.reply->text.size(), AtFraming::kMaxReply);
}

struct FinalCase {
    const char* line;
    Final final;
};

TEST(Codes, FinalResultCodes)
{
    for (const FinalCase& c :
         {FinalCase{"OK", Final::Ok}, FinalCase{"ok ", Final::Ok}, FinalCase{"ERROR", Final::Error},
          FinalCase{"+CMS ERROR: 500", Final::CmsError}, FinalCase{"+cme error: 14", Final::CmeError},
          FinalCase{"NO CARRIER", Final::NoCarrier}, FinalCase{"BUSY", Final::Busy},
          FinalCase{"COMMAND NOT SUPPORT", Final::NotSupported}, FinalCase{"OKAY", Final::None},
          FinalCase{"+CMGS: 3", Final::None}, FinalCase{"ERRORS", Final::None}})
        EXPECT_EQ(MatchFinal(c.line), c.final) << c.line;
}

TEST(Codes, UnsolicitedTableTakesTheLongerPrefixFirst)
{
    ASSERT_NE(MatchUnsolicited("+CMTI: \"SM\",1"), nullptr);
    EXPECT_EQ(MatchUnsolicited("+CMTI: \"SM\",1")->kind, Unsolicited::StoredMessage);
    EXPECT_EQ(MatchUnsolicited("+cmt: ,24")->kind, Unsolicited::DirectMessage);
    EXPECT_TRUE(MatchUnsolicited("+CMT: ,24")->pduFollows);
    EXPECT_EQ(MatchUnsolicited("+CGREG: 1")->kind, Unsolicited::Registration);
    EXPECT_EQ(MatchUnsolicited("RINGING"), nullptr);  // RING is a whole line
    EXPECT_EQ(MatchUnsolicited("+CSMS: 1,1,1"), nullptr);
    EXPECT_TRUE(IsHexLine("0791ab "));
    EXPECT_FALSE(IsHexLine("0791 AB"));
    EXPECT_FALSE(IsHexLine(""));
}

}  // namespace
