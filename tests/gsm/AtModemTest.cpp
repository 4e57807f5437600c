// The AT dialogue against modemsim over a pseudo-terminal.
#include "devices/gsm/AtModem.h"
#include "devices/gsm/SubmitPdu.h"
#include "gsm/ModemSimHarness.h"
#include "platform/ErrorInfo.h"

#include <cstdlib>
#include <mutex>

using namespace velmo::gsm;
using velmo::Bstr;

namespace {

// Test-only: every fixed wait of the AT layer a hundred times shorter.
const bool kFastWaits = (setenv("VELMO_TEST_TIME_DIVISOR", "100", 1), true);

// The service's side of the device contract, scripted: hands out the
// messages given, then waits for the device's own event until stopped.
class FakeQueue final : public IVelmo_Q {
public:
    struct Report {
        GUID id;
        LONG result;
        std::u16string status;
        bool statusNull;
    };
    struct Incoming {
        std::u16string from, body;
    };

    void Add(std::u16string to, std::u16string body)
    {
        GUID id{};
        CoCreateGuid(&id);
        outgoing_.push_back({id, std::move(to), std::move(body)});
    }
    // Stop once this many reports and received messages have arrived.
    void StopAfter(std::size_t reportCount, std::size_t incomingCount)
    {
        wantReports_ = reportCount;
        wantIncoming_ = incomingCount;
    }

    HRESULT QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT WaitForMsg(HANDLE hEvent, LONG* reason, GUID* msgId, BSTR* to, BSTR* body) override
    {
        *reason = WAKE_NONE;
        if (Done())
            return E_FAIL;
        if (!outgoing_.empty()) {
            auto m = outgoing_.front();
            outgoing_.erase(outgoing_.begin());
            *msgId = m.id;
            *to = SysAllocString(m.to.c_str());
            *body = SysAllocString(m.body.c_str());
            *reason = WAKE_MESSAGE;
            return S_OK;
        }
        if (WaitForSingleObject(hEvent, 5000) != WAIT_OBJECT_0)
            return E_FAIL;
        *reason = WAKE_EVENT;
        return S_OK;
    }
    HRESULT ReportMsgResult(GUID id, LONG, LONG result, BSTR status) override
    {
        reports.push_back({id, result, status ? std::u16string(status) : u"", status == nullptr});
        return S_OK;
    }
    HRESULT ReportIncomingMsg(LONG, BSTR from, BSTR body) override
    {
        incoming.push_back({from ? from : u"", body ? body : u""});
        return S_OK;
    }

    std::vector<Report> reports;
    std::vector<Incoming> incoming;

private:
    bool Done() const
    {
        return outgoing_.empty() && reports.size() >= wantReports_ && incoming.size() >= wantIncoming_;
    }
    struct Out {
        GUID id;
        std::u16string to, body;
    };
    std::vector<Out> outgoing_;
    std::size_t wantReports_ = 0, wantIncoming_ = 0;
};

std::string ErrorText()
{
    velmo::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) != S_OK)
        return "";
    Bstr text;
    info->GetDescription(text.Receive());
    return text.Utf8();
}

// A port opened and configured as the device opens it.
struct Link {
    explicit Link(const ModemSim& sim, AtSettings s = DefaultSettings()) : settings(std::move(s)), modem(port, settings)
    {
        ok = port.OpenPort(sim.com()) && port.Configure(u"96,n,8,1") && port.SetTimeouts();
    }
    static AtSettings DefaultSettings()
    {
        AtSettings s;
        s.Pin = "1234";
        s.SMSCentral = "+491710760000";
        return s;
    }
    bool ok = false;
    SerialPort port;
    AtSettings settings;
    AtModem modem;
};

struct InitCase {
    const char* name;
    std::vector<std::string> options;
    std::string pin = "1234";
    std::string cnmi = "1,2";
    bool opens = true;
    std::string error;
    std::vector<std::string> sent;      // commands that must be in the transcript, in order
    std::vector<std::string> notSent;   // commands that must not
};

void PrintTo(const InitCase& c, std::ostream* os) { *os << c.name; }

class Init : public ::testing::TestWithParam<InitCase> {};

TEST_P(Init, BringsTheModemIntoAKnownState)
{
    const InitCase& c = GetParam();
    ModemSim sim(c.options);
    AtSettings settings = Link::DefaultSettings();
    settings.Pin = c.pin;
    settings.CNMI = c.cnmi;
    Link link(sim, settings);
    ASSERT_TRUE(link.ok);
    HRESULT hr = link.modem.InitModem();
    if (c.opens) {
        EXPECT_EQ(hr, S_OK) << ErrorText();
        EXPECT_TRUE(link.modem.Opened());
    } else {
        EXPECT_EQ(hr, DISP_E_EXCEPTION);
        EXPECT_EQ(ErrorText(), c.error);
        EXPECT_FALSE(link.modem.Opened());
    }
    std::vector<std::string> transcript = sim.Transcript();
    auto at = transcript.begin();
    for (const std::string& command : c.sent) {
        at = std::find(at, transcript.end(), "< " + command);
        EXPECT_NE(at, transcript.end()) << command;
    }
    for (const std::string& command : c.notSent)
        EXPECT_EQ(sim.Count("< " + command), 0) << command;
}

const std::vector<std::string> kFullSequence = {"ATE0",       "AT+CPIN?",     "AT+CSMS=0",           "AT+CNMI=1,2",
                                                 "AT+CSCA=\"+491710760000\"", "AT+CMGF=0", "AT+CSCS=\"GSM\"",
                                                 "AT+CMEE=1",  "ATS0=0"};

INSTANTIATE_TEST_SUITE_P(
    Modems, Init,
    ::testing::Values(
        InitCase{"EchoOn", {"--echo=on"}, "1234", "1,2", true, "", kFullSequence, {"AT+CPIN=\"1234\""}},
        InitCase{"EchoOff", {"--echo=off"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"SplitReplies", {"--split=on"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"Silence", {"--mute=on"}, "1234", "1,2", false, "ATE0 command failed. No modem on port?", {"ATE0"},
                 {"AT+CPIN?"}},
        InitCase{"SimPin", {"--pin-state=pin", "--pin=4321"}, "4321", "1,2", true, "",
                 {"AT+CPIN?", "AT+CPIN=\"4321\"", "AT+CSMS=0"}, {}},
        InitCase{"WrongPin", {"--pin-state=pin", "--pin=4321"}, "1111", "1,2", false,
                 "Unexpected response [+CME ERROR: 16\r\n] to command AT+CPIN=\"1111\"", {"AT+CPIN=\"1111\""},
                 {"AT+CSMS=0"}},
        InitCase{"SimPuk", {"--pin-state=puk"}, "1234", "1,2", false,
                 "Unexpected response [+CPIN: SIM PUK\r\nOK\r\n] to command AT+CPIN?", {"AT+CPIN?"},
                 {"AT+CPIN=\"1234\""}},
        InitCase{"CsmsFailsFourTimes", {"--csms-fail=4"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"CsmsFailsFiveTimes", {"--csms-fail=5"}, "1234", "1,2", false,
                 "Unexpected response [ERROR\r\n] to command AT+CSMS=0", {"AT+CSMS=0"}, {"AT+CSCA=\"+491710760000\""}},
        InitCase{"EmptyCnmi", {}, "1234", "", true, "", {"AT+CSMS=0", "AT+CSCA=\"+491710760000\""}, {"AT+CNMI="}}));

TEST(InitCounts, CsmsIsTriedFiveTimesAtMost)
{
    ModemSim sim({"--csms-fail=4"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    EXPECT_EQ(sim.Count("< AT+CSMS=0"), 5);
    EXPECT_EQ(sim.Count("< AT+CNMI="), 0);
}

struct SendCase {
    const char* name;
    std::string cmgs;
    LONG result;
    const char16_t* status;  // null: no status text
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class Send : public ::testing::TestWithParam<SendCase> {};

TEST_P(Send, ReportsWhatTheModemAnswered)
{
    const SendCase& c = GetParam();
    ModemSim sim({"--cmgs=" + c.cmgs});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK) << ErrorText();
    FakeQueue queue;
    queue.Add(u"+491711234567", u"Disk full on db1");
    queue.StopAfter(1, 0);
    EXPECT_EQ(link.modem.RunLoop(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.reports.size(), 1u);
    EXPECT_EQ(queue.reports[0].result, c.result);
    EXPECT_EQ(queue.reports[0].statusNull, c.status == nullptr);
    if (c.status) {
        EXPECT_EQ(queue.reports[0].status, c.status);
    }
    // The simulator read the PDU with its own decoder.
    EXPECT_EQ(sim.Count("SUBMIT +491711234567 Disk full on db1"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Send,
    ::testing::Values(SendCase{"Sent", "ok", SEND_OK, nullptr}, SendCase{"BareError", "error", SEND_RETRY, nullptr},
                      SendCase{"Cms21", "cms:21", SEND_RETRY, u"+CMS ERROR: 21\r\n"},
                      SendCase{"Cms41", "cms:41", SEND_RETRY, u"+CMS ERROR: 41\r\n"},
                      SendCase{"Cms42", "cms:42", SEND_RETRY, u"+CMS ERROR: 42\r\n"},
                      SendCase{"Cme111", "cme:111", SEND_RETRY, u"+CME ERROR: 111\r\n"},
                      SendCase{"Cms512", "cms:512", SEND_RETRY, u"+CMS ERROR: 512\r\n"},
                      SendCase{"Cms513", "cms:513", SEND_RETRY, u"+CMS ERROR: 513\r\n"},
                      SendCase{"Cms515", "cms:515", SEND_RETRY, u"+CMS ERROR: 515\r\n"},
                      SendCase{"Cms38", "cms:38", SEND_FAILED, u"+CMS ERROR: 38\r\n"},
                      SendCase{"Cme500", "cme:500", SEND_FAILED, u"+CME ERROR: 500\r\n"}));

TEST(SendPath, LengthAnnouncedWithAndWithoutServiceCentre)
{
    for (std::uint16_t noSmsc : {0, 1}) {
        ModemSim sim({});
        AtSettings settings = Link::DefaultSettings();
        settings.NoSMSC = noSmsc;
        Link link(sim, settings);
        ASSERT_TRUE(link.ok);
        ASSERT_EQ(link.modem.InitModem(), S_OK);
        FakeQueue queue;
        queue.Add(u"+4917", u"hello");
        queue.StopAfter(1, 0);
        ASSERT_EQ(link.modem.RunLoop(&queue), S_OK);
        std::string pdu = EncodeSubmitPdu("+4917", "hello", noSmsc);
        int expected = noSmsc ? static_cast<int>(pdu.size() / 2) : static_cast<int>((pdu.size() - 2) / 2);
        EXPECT_EQ(sim.Count("< AT+CMGS=" + std::to_string(expected)), 1) << noSmsc;
        EXPECT_EQ(sim.Count("SUBMIT +4917 hello"), 1) << noSmsc;
        ASSERT_EQ(queue.reports.size(), 1u);
        EXPECT_EQ(queue.reports[0].result, SEND_OK);
    }
}

TEST(SendPath, ShortNumberFailsWithoutTouchingThePort)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    FakeQueue queue;
    queue.Add(u"1", u"x");
    queue.Add(u"", u"y");
    queue.StopAfter(2, 0);
    ASSERT_EQ(link.modem.RunLoop(&queue), S_OK);
    ASSERT_EQ(queue.reports.size(), 2u);
    for (auto& r : queue.reports) {
        EXPECT_EQ(r.result, SEND_FAILED);
        EXPECT_EQ(r.status, u"Invalid Phoneno.");
    }
    for (auto& line : sim.Transcript())
        EXPECT_EQ(line.rfind("< AT+CMGS", 0), std::string::npos);
}

TEST(SendPath, SilenceAfterThePduEndsRun)
{
    ModemSim sim({"--cmgs=silent"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    FakeQueue queue;
    queue.Add(u"+4917", u"hello");
    queue.StopAfter(1, 0);
    EXPECT_EQ(link.modem.RunLoop(&queue), DISP_E_EXCEPTION);
    EXPECT_EQ(ErrorText(), "Unexpected response [timedout reading comport] to tpdu [" + EncodeSubmitPdu("+4917", "hello", 0) + "]");
    EXPECT_TRUE(queue.reports.empty());
}

TEST(SendPath, UnsolicitedLinesNeverReachTheResponses)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    sim.Send("raw \\r\\nRING\\r\\n\\r\\n+CRING: VOICE\\r\\n\\r\\nNO CARRIER\\r\\n+CDS: 6,1\\r\\n");
    FakeQueue queue;
    queue.Add(u"+4917", u"after the noise");
    queue.StopAfter(1, 0);
    ASSERT_EQ(link.modem.RunLoop(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.reports.size(), 1u);
    EXPECT_EQ(queue.reports[0].result, SEND_OK);
}

TEST(SendPath, ResponseSplitOverTwoDeliveriesTakesTwoReads)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    sim.Send("raw \\r\\n+CSQ: 20,99\\r\\n");
    std::string first, second;
    ASSERT_TRUE(link.modem.ReadResponse(first, 2000));
    EXPECT_EQ(first, "+CSQ: 20,99\r\n");
    sim.Send("raw \\r\\nOK\\r\\n");
    ASSERT_TRUE(link.modem.ReadResponse(second, 2000));
    EXPECT_EQ(second, "OK\r\n");
    EXPECT_FALSE(link.modem.ReadResponse(second, 50));
    EXPECT_EQ(second, "timedout reading comport");
}

struct InboundCase {
    const char* name;
    std::string delivery;
    bool stored;
};

void PrintTo(const InboundCase& c, std::ostream* os) { *os << c.name; }

class Inbound : public ::testing::TestWithParam<InboundCase> {};

TEST_P(Inbound, ReceivedMessagesReachTheService)
{
    ModemSim sim({"--delivery=" + GetParam().delivery});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.modem.InitModem(), S_OK);
    sim.Send("deliver +4915112345678 Server db1 is back");
    sim.Send("deliver 0301234 second one");
    FakeQueue queue;
    queue.StopAfter(0, 2);
    ASSERT_EQ(link.modem.RunLoop(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.incoming.size(), 2u);
    EXPECT_EQ(queue.incoming[0].from, u"+4915112345678");
    EXPECT_EQ(queue.incoming[0].body, u"Server db1 is back");
    EXPECT_EQ(queue.incoming[1].from, u"0301234");
    EXPECT_EQ(queue.incoming[1].body, u"second one");
    EXPECT_EQ(sim.Count("< AT+CMGR=1"), GetParam().stored ? 1 : 0);
    EXPECT_EQ(sim.Count("< AT+CMGD=1"), GetParam().stored ? 1 : 0);
    EXPECT_EQ(sim.Count("< AT+CMGR=2"), GetParam().stored ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Deliveries, Inbound,
                         ::testing::Values(InboundCase{"StoredAndAnnounced", "cmti", true},
                                           InboundCase{"DeliveredDirectly", "cmt", false},
                                           InboundCase{"AsCnmiSays", "cnmi", false}));

// A modem client that nobody here wrote drives the simulator.
TEST(ForeignClient, GammuSendsOneMessage)
{
    if (system("command -v gammu >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gammu is not installed (Debian package gammu)";
    ModemSim sim({});
    std::string config = sim.rootPath() + "/gammurc";
    std::ofstream(config) << "[gammu]\ndevice = " << sim.tty() << "\nconnection = at\n";
    std::string command = "timeout 60 gammu -c " + config + " sendsms TEXT +491711234567 -text 'Hello from gammu' >" +
                          sim.rootPath() + "/gammu.out 2>&1";
    int rc = system(command.c_str());
    std::ifstream out(sim.rootPath() + "/gammu.out");
    std::string text(std::istreambuf_iterator<char>(out), {});
    EXPECT_EQ(rc, 0) << text;
    EXPECT_EQ(sim.Count("SUBMIT +491711234567 Hello from gammu"), 1) << text;
}

} // namespace
