// Text as people write it, through velmosvc and modemsim: every GSM
// character, UCS2, and long texts sent in numbered parts and received
// parts joined into one message, across a kill of the service.
#include "service/GsmSandbox.h"

#include <set>
#include <sstream>

using velmo::Utf16ToUtf8;
using velmo::Utf8ToUtf16;
using velmo::messagefile::MessageRecord;

namespace {

const auto kFast = Divisor(100);

// 400 characters with a euro sign and a Cyrillic word: UCS2, six parts of 67 units at most.
std::string LongText()
{
    std::string text = "Disk usage on db1 is 95% (cost 12€ a day) - Привет, admin. ";
    while (text.size() < 600)
        text += "The quick brown fox jumps over the lazy dog. ";
    std::u16string chars = Utf8ToUtf16(text).substr(0, 400);
    return Utf16ToUtf8(chars);
}

// The bodies of the messages in in/, once there are count of them.
std::vector<std::u16string> Received(const GsmSandbox& box, std::size_t count, const Program& service)
{
    EXPECT_TRUE(WaitUntil([&] { return box.Files("in").size() == count; })) << service.Err();
    std::vector<std::u16string> bodies;
    for (const std::string& path : box.Files("in")) {
        MessageRecord* in = ReadMessage(path);
        bodies.push_back(in->Body.str());
        in->Release();
    }
    return bodies;
}

// The parts of a long text as the modem saw them sent, in order, and the
// references they carried.
struct PartsSent {
    std::vector<int> numbers;
    std::set<std::string> references;
    std::set<std::string> totals;  // the N of each "part=K/N"
};

PartsSent PartsOf(const GsmSandbox& box, const std::string& number)
{
    PartsSent sent;
    const std::string prefix = "SUBMIT " + number + " part=";
    std::istringstream transcript(box.Transcript());
    for (std::string line; std::getline(transcript, line);) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        // "part=K/N ref=R text"
        std::istringstream fields(line.substr(prefix.size()));
        std::string place, reference;
        fields >> place >> reference;
        sent.numbers.push_back(std::stoi(place.substr(0, place.find('/'))));
        sent.totals.insert(place.substr(place.find('/') + 1));
        sent.references.insert(reference);
    }
    return sent;
}

TEST(GsmTextFlow, LongTextLeavesInNumberedPartsAndComesBackWhole)
{
    GsmSandbox box({});
    Program service({"/DEBUG"}, kFast);
    const std::string text = LongText();
    box.Drop(u"+491711234567", Utf8ToUtf16(text));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; })) << service.Err();

    // Parts 1/6 .. 6/6 in order, one reference, and together the text.
    PartsSent sent = PartsOf(box, "+491711234567");
    EXPECT_EQ(sent.numbers, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(sent.totals, std::set<std::string>{"6"});
    EXPECT_EQ(sent.references.size(), 1u);
    EXPECT_EQ(box.Count("JOINED +491711234567 " + text), 1) << box.Transcript();

    // Every GSM character fits one 7-bit part, the extension table's too.
    box.Drop(u"+491711234568", u"5€ [ok] {db1} ~^|\\ ΔΦΓ @home");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 2; })) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234568 5€ [ok] {db1} ~^|\\ ΔΦΓ @home"), 1) << box.Transcript();

    // The same text sent back by a phone, in the simulator's own parts.
    box.Control("deliver +4915112345678 " + text);
    EXPECT_EQ(Received(box, 1, service), std::vector<std::u16string>{Utf8ToUtf16(text)});
    EXPECT_EQ(box.CountPrefix("SUBMIT? "), 0);
    StopService(service);
    // The parts' files are gone once the message is in in/.
    EXPECT_TRUE(std::filesystem::is_empty(box.Folder("cellgate/Modem.parts")));
}

struct TextCase {
    const char* name;
    std::string text;
    std::string cnmi = "1,2";  // 1,2: each part in a +CMT; 1,1: stored on the SIM and announced
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class GsmTextInbound : public ::testing::TestWithParam<TextCase> {};

// Each text arrives from the modem and is stored in in/ as it was written,
// whatever the coding and however many parts it came in.
TEST_P(GsmTextInbound, ArrivesWithItsText)
{
    GsmSandbox box({}, GetParam().cnmi);
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
    box.Control("deliver +4915112345678 " + GetParam().text);
    EXPECT_EQ(Received(box, 1, service), std::vector<std::u16string>{Utf8ToUtf16(GetParam().text)});
    StopService(service);
}

INSTANTIATE_TEST_SUITE_P(Texts, GsmTextInbound,
                         ::testing::Values(TextCase{"GsmWithExtensionTable", "@home: 5€ [ok] {x} ~^|\\ ΔΦΓ"},
                                           TextCase{"Ucs2Cyrillic", "Ответ: сервер db1 снова работает"},
                                           TextCase{"Ucs2CjkAndEmoji", "日本 東京 😀👍"},
                                           TextCase{"StoredLongGsm", std::string(300, 'x') + " end", "1,1"}));

// The parts' files kept for the GSM device (not the temporary ones being written).
std::size_t KeptParts(const GsmSandbox& box)
{
    std::error_code ec;
    std::size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(box.Folder("cellgate/Modem.parts"), ec))
        n += e.path().filename().string()[0] != '.';
    return n;
}

// Parts stored on the SIM and announced (+CMTI): the SIM's copy of a part
// is deleted only once the part is kept, so a kill at any moment loses none.
TEST(GsmTextFlow, AKillBetweenTwoPartsLosesNeither)
{
    GsmSandbox box({}, "1,1");
    const std::string text = std::string(150, 'a') + " Привет " + std::string(40, 'b');  // UCS2: 3 parts
    {
        Program service({"/DEBUG"}, kFast);
        ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
        box.Control("deliver-part 1 +4915112345678 " + text);
        box.Control("deliver-part 3 +4915112345678 " + text);
        ASSERT_TRUE(WaitUntil([&] { return KeptParts(box) == 2; })) << service.Err();
        kill(service.pid(), SIGKILL);
        service.Wait();
    }
    EXPECT_TRUE(box.Files("in").empty());
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 2; })) << service.Err();
    box.Control("deliver-part 2 +4915112345678 " + text);
    EXPECT_EQ(Received(box, 1, service), std::vector<std::u16string>{Utf8ToUtf16(text)}) << service.Err();
    StopService(service);
    EXPECT_EQ(KeptParts(box), 0u);
}

TEST(GsmTextFlow, AMessageWhosePartsDoNotAllComeIsStoredWithWhatCame)
{
    GsmSandbox box({});
    // The hour's wait 360 times shorter: 10 s.
    Program service({"/DEBUG"}, Divisor(360));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
    const std::string text = std::string(153, 'a') + std::string(153, 'b') + "end";  // GSM: 3 parts
    box.Control("deliver-part 1 +4915112345678 " + text);
    box.Control("deliver-part 3 +4915112345678 " + text);
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1; }, std::chrono::seconds(40))) << service.Err();
    MessageRecord* in = ReadMessage(box.Files("in")[0]);
    EXPECT_EQ(in->Body.str(), Utf8ToUtf16(std::string(153, 'a')) + u" [...] " + u"end");
    EXPECT_NE(Utf16ToUtf8(in->StatusText.str()).find("part 2 did not arrive"), std::string::npos)
        << Utf16ToUtf8(in->StatusText.str());
    in->Release();
    StopService(service);
}

}  // namespace

namespace {

struct RetryCase {
    const char* name;
    std::string cmgs;          // the modem's answers, in turn
    std::vector<int> numbers;  // the parts sent, in order
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class GsmPartRetry : public ::testing::TestWithParam<RetryCase> {};

// A long text whose attempt ends at a part: the retry sends only the parts
// that are missing, under the same reference, and the phone joins them.
TEST_P(GsmPartRetry, SendsOnlyWhatIsMissingUnderTheSameReference)
{
    GsmSandbox box({"--cmgs=" + GetParam().cmgs});
    Program service({"/DEBUG"}, kFast);
    const std::string text = LongText();
    box.Drop(u"+491711234567", Utf8ToUtf16(text));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    PartsSent sent = PartsOf(box, "+491711234567");
    EXPECT_EQ(sent.numbers, GetParam().numbers) << box.Transcript();
    EXPECT_EQ(sent.references.size(), 1u);
    EXPECT_EQ(box.Count("JOINED +491711234567 " + text), 1) << box.Transcript();
    EXPECT_TRUE(std::filesystem::is_empty(box.dir() + "/var/lib/velmo/cellgate/Modem.sending"));
    StopService(service);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, GsmPartRetry,
    ::testing::Values(RetryCase{"RefusedMidway", "ok,ok,cms:42,ok,ok,ok,ok,ok", {1, 2, 3, 3, 4, 5, 6}},
                      RetryCase{"RefusedTwice", "ok,cms:42,cms:42,ok,ok,ok,ok,ok", {1, 2, 2, 2, 3, 4, 5, 6}},
                      RetryCase{"AnswerLost", "ok,ok,ok,silent,ok,ok,ok,ok", {1, 2, 3, 4, 4, 5, 6}}),
    [](const auto& param) { return std::string(param.param.name); });

// The service is killed while a long text goes out part by part: after the
// restart it goes on under the same reference, sending again at most the
// part that was in flight.
TEST(GsmTextFlow, AKillWhileSendingCostsAtMostThePartInFlight)
{
    GsmSandbox box({"--delay=300"});
    const std::string text = LongText();
    box.Queue(u"+491711234567", Utf8ToUtf16(text));
    {
        Program service({"/DEBUG"}, kFast);
        ASSERT_TRUE(WaitUntil([&] { return PartsOf(box, "+491711234567").numbers.size() >= 3; })) << service.Err();
        kill(service.pid(), SIGKILL);
        service.Wait();
    }
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    PartsSent sent = PartsOf(box, "+491711234567");
    EXPECT_LE(sent.numbers.size(), 7u) << box.Transcript();
    EXPECT_EQ(sent.references.size(), 1u) << box.Transcript();
    EXPECT_EQ(box.Count("JOINED +491711234567 " + text), 1) << box.Transcript();
    StopService(service);
}

}  // namespace
