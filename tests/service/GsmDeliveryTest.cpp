// Delivery reports end to end: velmosvc with the GSM device asking for
// status reports, modemsim answering them as +CDS, as +CDSI or stored for a
// listing, and the sent message's file becoming DELIVERED or UNDELIVERED.
// Also the queue's expiry, which keeps a message too old from the modem.
#include "service/GsmSandbox.h"

#include <cstdio>

using velmo::messagefile::MessageRecord;

namespace {

const std::vector<std::pair<std::string, std::string>> kFast = {{"VELMO_TEST_TIME_DIVISOR", "100"}};
const std::string kReports = "--param StatusReport=1 --param ValidityPeriod=6h";

std::string Swapped(int v) { return std::string{char('0' + v % 10), char('0' + v / 10)}; }

// A status report as a network gives it: an empty centre part, reference,
// the recipient ("+" international, else national), times in UTC, TP-ST.
std::string ReportPdu(int reference, const std::string& number, int status)
{
    bool international = number[0] == '+';
    std::string digits = international ? number.substr(1) : number;
    char head[16];
    std::snprintf(head, sizeof head, "0006%02X%02X%s", reference, static_cast<int>(digits.size()),
                  international ? "91" : "81");
    if (digits.size() % 2)
        digits += 'F';
    std::string packed;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        packed += std::string{digits[i + 1], digits[i]};
    std::string when = Swapped(26) + Swapped(12) + Swapped(9) + Swapped(10) + Swapped(0) + Swapped(30) + "00";
    char st[4];
    std::snprintf(st, sizeof st, "%02X", status);
    std::string pdu = std::string(head) + packed + when + when + st;
    return pdu;
}

// "raw" control line that hands the report over as +CDS.
std::string CdsLine(const std::string& pdu)
{
    return "raw \\r\\n+CDS: " + std::to_string(pdu.size() / 2 - 1) + "\\r\\n" + pdu + "\\r\\n";
}

// The one message file in folder, once its status is status.
bool HasStatus(const GsmSandbox& box, const std::string& folder, LONG status, std::u16string* text = nullptr)
{
    std::vector<std::string> files = box.Files(folder);
    if (files.size() != 1)
        return false;
    MessageRecord* r = new MessageRecord();
    bool ok = SUCCEEDED(r->LoadFromFile(velmo::Utf8ToUtf16(files[0]))) && r->Status == status;
    if (ok && text)
        *text = r->StatusText.str();
    r->Release();
    return ok;
}

struct ReportCase {
    const char* name;
    std::vector<std::string> modem;
    LONG status;
    std::u16string text;  // what the status text holds
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class GsmReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(GsmReport, TheSentMessageLearnsWhatBecameOfIt)
{
    GsmSandbox box(GetParam().modem, "2,1", 3, kReports);
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", u"Disk full on db1");
    std::u16string text;
    ASSERT_TRUE(
        WaitUntil([&] { return HasStatus(box, "out/sent", GetParam().status, &text); }, std::chrono::seconds(20)))
        << service.Err() << box.Transcript();
    EXPECT_NE(text.find(GetParam().text), std::u16string::npos) << velmo::Utf16ToUtf8(text);
    EXPECT_EQ(box.CountPrefix("REPORT-REQUESTED ref=1 vp=71"), 1) << "6 h in 5 minute steps" << box.Transcript();
    MessageRecord* r = ReadMessage(box.Files("out/sent")[0]);
    EXPECT_NE(r->Accepted.wYear, 0);
    // The modem writes its times an hour east of UTC: what is kept is UTC.
    SYSTEMTIME now{};
    GetSystemTime(&now);
    double kept = 0, current = 0;
    SystemTimeToVariantTime(&r->Discharged, &kept);
    SystemTimeToVariantTime(&now, &current);
    EXPECT_LT(std::abs(kept - current) * 86400, 120) << velmo::IsoDate(r->Discharged);
    r->Release();
    // No report is a received message.
    EXPECT_TRUE(box.Files("in").empty());
    StopService(service);
}

INSTANTIATE_TEST_SUITE_P(
    AsModemsGiveThem, GsmReport,
    ::testing::Values(
        ReportCase{"DeliveredAsCds", {"--report-as=cnmi"}, DELIVERED, u"Delivered to the phone at "},
        ReportCase{"DeliveredAsCdsi", {"--report-as=cdsi"}, DELIVERED, u"Delivered to the phone at "},
        ReportCase{"StoredUnannouncedFoundAtTheIdleCheck",
                   {"--report-as=cnmi", "--refuse=AT+CNMI=2,1,0"},
                   DELIVERED,
                   u"Delivered to the phone at "},
        ReportCase{"ExpiredInTheNetwork",
                   {"--report-status=46"},
                   UNDELIVERED,
                   u"Not delivered: SM Validity Period Expired (0x46), reported for "},
        ReportCase{"BusyThenDelivered",
                   {"--report-status=21>00", "--report-delay=200"},
                   DELIVERED,
                   u"Not delivered yet: SME busy (0x21); the network tries again\r\nDelivered to the phone at "}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(GsmDelivery, AMessageOfThreePartsIsDeliveredOnlyWhenEveryPartIs)
{
    // The third report is lost on the way; it comes later, by hand.
    GsmSandbox box({"--report-lose=3"}, "2,1", 3, kReports);
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", std::u16string(400, u'x'));
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("REPORT ") == 2 && box.CountPrefix("REPORT-LOST") == 1; }))
        << box.Transcript();
    ASSERT_TRUE(WaitUntil([&] { return HasStatus(box, "out/sent", SENT); }));
    // Two reports of three: still SENT, however long one waits for the idle check.
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("< AT+CSQ") >= 2; }, std::chrono::seconds(20)))
        << box.Transcript();
    ASSERT_TRUE(HasStatus(box, "out/sent", SENT));
    box.Control(CdsLine(ReportPdu(3, "+491711234567", 0)));
    std::u16string text;
    ASSERT_TRUE(WaitUntil([&] { return HasStatus(box, "out/sent", DELIVERED, &text); })) << service.Err();
    EXPECT_NE(text.find(u"All 3 parts delivered to the phone, the last at "), std::u16string::npos)
        << velmo::Utf16ToUtf8(text);
    StopService(service);
}

TEST(GsmDelivery, AReportOnAPartOfAMessageQueuedAgainCountsOnceTheMessageHasGone)
{
    // Part 1 goes and its report says "expired" at once; part 2 is refused
    // and goes on the retry, its own report lost. The first report comes
    // while the message waits for the retry (a tenth of the design's waits:
    // 100 ms), and is offered again at an idle check once it has gone.
    GsmSandbox box({"--cmgs=ok,error,ok", "--report-status=46", "--report-lose=2"}, "2,1", 3, kReports);
    Program service({"/DEBUG"}, Divisor(10));
    box.Drop(u"+491711234567", std::u16string(200, u'y'));
    std::u16string text;
    ASSERT_TRUE(WaitUntil([&] { return HasStatus(box, "out/sent", UNDELIVERED, &text); }, std::chrono::seconds(30)))
        << service.Err() << box.Transcript();
    EXPECT_NE(text.find(u"Not delivered (part 1 of 2): SM Validity Period Expired (0x46)"), std::u16string::npos)
        << velmo::Utf16ToUtf8(text);
    EXPECT_EQ(box.CountPrefix("REPORT-LOST"), 1);
    StopService(service);
}

TEST(GsmDelivery, AReportThatComesWhileTheServiceIsDownIsTakenAfterTheRestart)
{
    GsmSandbox box({"--report-as=cdsi", "--report-delay=1500"}, "2,1", 3, kReports);
    {
        Program service({"/DEBUG"}, kFast);
        box.Drop(u"+491711234567", u"before the crash");
        ASSERT_TRUE(WaitUntil([&] { return HasStatus(box, "out/sent", SENT); })) << service.Err();
        kill(service.pid(), SIGKILL);
        service.Wait();
    }
    // The modem stores the report and announces it to nobody.
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("REPORT ") == 1; }, std::chrono::seconds(10)))
        << box.Transcript();
    Program again({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return HasStatus(box, "out/sent", DELIVERED); })) << again.Err();
    EXPECT_TRUE(box.Files("in").empty());
    StopService(again);
}

TEST(GsmDelivery, AReusedReferenceMatchesItsNewestUnsettledUseFirst)
{
    // Every report is lost; those that come are made by hand. The modem's
    // reference is set back so the second message gets the first one's,
    // as the 256th message after it would.
    GsmSandbox box({"--report-lose=1"}, "2,1", 3, kReports);
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", u"first");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; })) << service.Err();
    std::string first = box.Files("out/sent")[0];
    box.Control("reference 0");
    box.Drop(u"+491711234567", u"second");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 2; })) << service.Err();
    ASSERT_EQ(box.CountPrefix("REPORT-REQUESTED ref=1 "), 2);
    auto status = [&](bool ofFirst) {
        for (const std::string& path : box.Files("out/sent"))
            if ((path == first) == ofFirst) {
                MessageRecord* r = ReadMessage(path);
                LONG s = r->Status;
                r->Release();
                return s;
            }
        return LONG{-1};
    };
    box.Control(CdsLine(ReportPdu(1, "+491711234567", 0x00)));
    ASSERT_TRUE(WaitUntil([&] { return status(false) == DELIVERED; })) << service.Err();
    EXPECT_EQ(status(true), SENT);
    // A report for another number with the same reference matches nothing.
    box.Control(CdsLine(ReportPdu(1, "+491719999999", 0x00)));
    ASSERT_TRUE(WaitUntil([&] { return service.Err().find("matches no message") != std::string::npos; }))
        << service.Err();
    EXPECT_EQ(status(true), SENT);
    // The national form of the number is the same recipient.
    box.Control(CdsLine(ReportPdu(1, "01711234567", 0x48)));
    ASSERT_TRUE(WaitUntil([&] { return status(true) == UNDELIVERED; })) << service.Err();
    EXPECT_TRUE(box.Files("in").empty());
    StopService(service);
}

TEST(GsmDelivery, AMessageOlderThanTheQueueAllowsNeverReachesTheModem)
{
    GsmSandbox box({}, "2,1", 3, kReports + " --expire 1h");
    box.Queue(u"+491711234567", u"last night's alert", 2 * 3600);
    box.Queue(u"+491711234568", u"a fresh one", 60);
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/failed").size() == 1 && box.Files("out/sent").size() == 1; }))
        << service.Err();
    MessageRecord* r = ReadMessage(box.Files("out/failed")[0]);
    EXPECT_EQ(r->Body.str(), u"last night's alert");
    EXPECT_EQ(r->StatusText.str(), u"Expired after 1h in the queue: not sent");
    r->Release();
    EXPECT_EQ(box.CountPrefix("SUBMIT +491711234567"), 0);
    EXPECT_EQ(box.CountPrefix("SUBMIT +491711234568 a fresh one"), 1);
    StopService(service);
}

}  // namespace
