// The AT dialogue against modemsim over a pseudo-terminal.
#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/ModemSession.h"
#include "devices/cellgate/ModemStartup.h"
#include "smscodec/SubmitPdu.h"
#include "cellgate/ModemSimHarness.h"
#include "platform/ErrorInfo.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace velmo::cellgate;
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
        if (takesNone)
            return E_NOTIMPL;
        if (failStores > 0) {
            --failStores;
            ++refused;
            return E_FAIL;
        }
        incoming.push_back({from ? from : u"", body ? body : u""});
        return S_OK;
    }

    int failStores = 0;      // this many stores fail first (a full disk)
    bool takesNone = false;  // a host that keeps no received message (the test tool)
    int refused = 0;

    std::vector<Report> reports;
    std::vector<Incoming> incoming;

private:
    bool Done() const
    {
        return outgoing_.empty() && reports.size() >= wantReports_ && incoming.size() + refused >= wantIncoming_;
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
        s.Name = "Modem";
        s.Pin = "1234";
        s.SMSCentral = "+491710760000";
        return s;
    }
    // The device's two halves, as it runs them.
    HRESULT Open() { return ModemStartup(modem).Run(); }
    HRESULT Run(IVelmo_Q* queue) { return ModemSession(modem).Run(queue); }

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
    std::vector<std::string> sent;     // commands that must be in the transcript, in order
    std::vector<std::string> notSent;  // commands that must not
    std::string smsc = "+491710760000";
    ModemState learnt;  // the notification and storages chosen
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
    settings.SMSCentral = c.smsc;
    Link link(sim, settings);
    ASSERT_TRUE(link.ok);
    HRESULT hr = link.Open();
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
    if (c.opens) {
        ModemState state = link.modem.State();
        EXPECT_EQ(state.notification, c.learnt.notification.empty() ? c.cnmi : c.learnt.notification);
        EXPECT_EQ(state.storages, c.learnt.storages.empty() ? "SM" : c.learnt.storages);
        EXPECT_EQ(state.serviceCentre, c.smsc.empty() ? "+491700000000" : c.smsc);
        EXPECT_EQ(state.manufacturer + "/" + state.model + "/" + state.imei, "Norvane/modemsim/356938035643809");
    }
}

ModemState Chose(std::string notification, std::string storages = "")
{
    ModemState s;
    s.notification = std::move(notification);
    s.storages = std::move(storages);
    return s;
}

const std::vector<std::string> kFullSequence = {
    "ATE0",      "AT+CPIN?",        "AT+CSMS=0", "AT+CNMI=1,2", "AT+CSCA=\"+491710760000\"",
    "AT+CMGF=0", "AT+CSCS=\"GSM\"", "AT+CMEE=1", "ATS0=0"};

INSTANTIATE_TEST_SUITE_P(
    Modems, Init,
    ::testing::Values(
        InitCase{"EchoOn", {"--echo=on"}, "1234", "1,2", true, "", kFullSequence, {"AT+CPIN=\"1234\""}},
        InitCase{"EchoOff", {"--echo=off"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"SplitReplies", {"--split=on"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"Silence",
                 {"--mute=on"},
                 "1234",
                 "1,2",
                 false,
                 "ATE0 command failed. No modem on port?",
                 {"ATE0"},
                 {"AT+CPIN?"}},
        InitCase{"SimPin",
                 {"--pin-state=pin", "--pin=4321"},
                 "4321",
                 "1,2",
                 true,
                 "",
                 {"AT+CPIN?", "AT+CPIN=\"4321\"", "AT+CSMS=0"},
                 {}},
        InitCase{"WrongPin",
                 {"--pin-state=pin", "--pin=4321"},
                 "1111",
                 "1,2",
                 false,
                 "The SIM refused the PIN: response [+CME ERROR: 16\r\n] to command AT+CPIN=\"****\". It is not sent "
                 "again until the Pin parameter changes",
                 {"AT+CPIN=\"1111\""},
                 {"AT+CSMS=0"}},
        InitCase{"PinAskedButNoneSet",
                 {"--pin-state=pin"},
                 "",
                 "1,2",
                 false,
                 "The SIM asks for its PIN and the device has no Pin parameter: no PIN is sent",
                 {"AT+CPIN?"},
                 {"AT+CPIN=\"\""}},
        InitCase{"SimBusyForAWhile", {"--sim-busy=100"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"NulsBeforeReplies", {"--nul=on"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"ReplyLinesApart", {"--gap=50"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"UnsolicitedWhileOpening",
                 {"--urc-every=3", "--urc=+CREG: 1|+CSQ: 17,99|@5000|+CIEV: 2,3|RING"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 kFullSequence,
                 {}},
        InitCase{"SimPuk",
                 {"--pin-state=puk"},
                 "1234",
                 "1,2",
                 false,
                 "Unexpected response [+CPIN: SIM PUK\r\nOK\r\n] to command AT+CPIN?",
                 {"AT+CPIN?"},
                 {"AT+CPIN=\"1234\""}},
        InitCase{"CsmsFailsFourTimes", {"--csms-fail=4"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"CsmsFailsFiveTimes",
                 {"--csms-fail=5"},
                 "1234",
                 "1,2",
                 false,
                 "Unexpected response [ERROR\r\n] to command AT+CSMS=0",
                 {"AT+CSMS=0"},
                 {"AT+CSCA=\"+491710760000\""}},
        InitCase{"EmptyCnmi",
                 {},
                 "1234",
                 "",
                 true,
                 "",
                 {"AT+CSMS=0", "AT+CSCA=\"+491710760000\""},
                 {"AT+CNMI="},
                 "+491710760000",
                 Chose("none")},
        InitCase{"CpinWithoutFinal",
                 {"--cpin-final=off", "--pin-state=pin", "--pin=1234"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 {"AT+CPIN?", "AT+CPIN=\"1234\"", "AT+CSMS=0", "AT+CMGF=0"},
                 {}},
        InitCase{"CharacterSetNotSupported",
                 {"--refuse=AT+CSCS", "--refuse-with=COMMAND NOT SUPPORT"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 kFullSequence,
                 {}},
        InitCase{"ErrorsAsNumbersRefused", {"--refuse=AT+CMEE"}, "1234", "1,2", true, "", kFullSequence, {}},
        InitCase{"CnmiRefusedFallsBackToStoreAndAnnounce",
                 {"--refuse=AT+CNMI=1,2"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 {"AT+CNMI=1,2", "AT+CNMI=?", "AT+CNMI=1,1"},
                 {},
                 "+491710760000",
                 Chose("1,1")},
        InitCase{"CnmiOnlyDirect",
                 {"--refuse=AT+CNMI=2,1", "--cnmi-test=(0-2),(0,2),(0),(0),(0)"},
                 "1234",
                 "2,1",
                 true,
                 "",
                 {"AT+CNMI=2,1", "AT+CNMI=?", "AT+CNMI=2,2"},
                 {},
                 "+491710760000",
                 Chose("2,2")},
        InitCase{"CnmiRefusedAltogether",
                 {"--refuse=AT+CNMI"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 {"AT+CNMI=1,2", "AT+CNMI=?", "AT+CMGF=0"},
                 {},
                 "+491710760000",
                 Chose("none")},
        InitCase{"StoragesOffered",
                 {"--storages=SM,ME,MT", "--storage=ME"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 {"AT+CPMS=?"},
                 {},
                 "+491710760000",
                 Chose("", "SM,ME")},
        InitCase{"StorageListRefused",
                 {"--refuse=AT+CPMS=?"},
                 "1234",
                 "1,2",
                 true,
                 "",
                 {"AT+CPMS=?", "AT+CPMS?"},
                 {},
                 "+491710760000",
                 Chose("", "SM")},
        InitCase{"ServiceCentreFromTheSim", {}, "1234", "1,2", true, "", {"AT+CSCA?", "AT+CMGF=0"}, {"AT+CSCA=\""}, ""},
        InitCase{"NoPduMode",
                 {"--refuse=AT+CMGF=0"},
                 "1234",
                 "1,2",
                 false,
                 "Unexpected response [ERROR\r\n] to command AT+CMGF=0: the modem does not take PDU mode, which this "
                 "device needs",
                 {"AT+CMGF=0"},
                 {"ATS0=0"}}));

TEST(InitCounts, CsmsIsTriedFiveTimesAtMost)
{
    ModemSim sim({"--csms-fail=4"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK);
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
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    FakeQueue queue;
    queue.Add(u"+491711234567", u"Disk full on db1");
    queue.StopAfter(1, 0);
    EXPECT_EQ(link.Run(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.reports.size(), 1u);
    EXPECT_EQ(queue.reports[0].result, c.result);
    EXPECT_EQ(queue.reports[0].statusNull, c.status == nullptr);
    if (c.status) {
        EXPECT_EQ(queue.reports[0].status, c.status);
    }
    // The simulator read the PDU with its own decoder.
    EXPECT_EQ(sim.Count("SUBMIT +491711234567 Disk full on db1"), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, Send,
                         ::testing::Values(SendCase{"Sent", "ok", SEND_OK, nullptr},
                                           SendCase{"BareError", "error", SEND_RETRY, nullptr},
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
        ASSERT_EQ(link.Open(), S_OK);
        FakeQueue queue;
        queue.Add(u"+4917", u"hello");
        queue.StopAfter(1, 0);
        ASSERT_EQ(link.Run(&queue), S_OK);
        std::string pdu = velmo::sms::EncodeSubmitPdu("+4917", "hello", noSmsc);
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
    ASSERT_EQ(link.Open(), S_OK);
    FakeQueue queue;
    queue.Add(u"1", u"x");
    queue.Add(u"", u"y");
    queue.StopAfter(2, 0);
    ASSERT_EQ(link.Run(&queue), S_OK);
    ASSERT_EQ(queue.reports.size(), 2u);
    for (auto& r : queue.reports) {
        EXPECT_EQ(r.result, SEND_FAILED);
        EXPECT_EQ(r.status, u"Invalid Phoneno.");
    }
    for (auto& line : sim.Transcript())
        EXPECT_EQ(line.rfind("< AT+CMGS", 0), std::string::npos);
}

struct EndCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<LONG> results;
    std::string firstStatus;  // of the first report
    int submitted;            // PDUs the modem took
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class EverySendEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(EverySendEnds, WithAReportAndTheDeviceStillRunning)
{
    const EndCase& c = GetParam();
    ModemSim sim(c.options);
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    FakeQueue queue;
    queue.Add(u"+4917", u"first");
    queue.Add(u"+4917", u"second");
    queue.StopAfter(2, 0);
    EXPECT_EQ(link.Run(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.reports.size(), 2u);
    std::vector<LONG> results{queue.reports[0].result, queue.reports[1].result};
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(velmo::Utf16ToUtf8(queue.reports[0].status), c.firstStatus);
    EXPECT_EQ(sim.Count("SUBMIT +4917 first") + sim.Count("SUBMIT +4917 second"), c.submitted);
}

INSTANTIATE_TEST_SUITE_P(
    Modems, EverySendEnds,
    ::testing::Values(EndCase{"SilentAfterThePdu",
                              {"--cmgs=silent,ok"},
                              {SEND_RETRY, SEND_OK},
                              "No answer from the modem within 60 s after the PDU",
                              2},
                      EndCase{"NoPrompt",
                              {"--cmgs=noprompt,ok"},
                              {SEND_RETRY, SEND_OK},
                              "No prompt from the modem within 15 s after AT+CMGS; the message was cancelled with ESC",
                              1},
                      EndCase{"LatePromptThatDropsEarlyBytes", {"--prompt-delay=50"}, {SEND_OK, SEND_OK}, "", 2},
                      EndCase{"UnsolicitedBeforeThePrompt", {"--before-prompt=+CIEV: 2,3"}, {SEND_OK, SEND_OK}, "", 2},
                      EndCase{"UnsolicitedFlood",
                              {"--urc-every=2", "--urc=+CREG: 1|+CSQ: 17,99|@5000|+CIEV: 2,3|+CMTI: \"SM\",9"},
                              {SEND_OK, SEND_OK},
                              "",
                              2},
                      EndCase{"ReplyLinesApart", {"--gap=40"}, {SEND_OK, SEND_OK}, "", 2},
                      EndCase{"NulsBeforeReplies", {"--nul=on"}, {SEND_OK, SEND_OK}, "", 2}));

TEST(SendPath, UnsolicitedLinesNeverReachTheResponses)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK);
    sim.Send("raw \\r\\nRING\\r\\n\\r\\n+CRING: VOICE\\r\\n\\r\\nNO CARRIER\\r\\n+CDS: 6,1\\r\\n");
    FakeQueue queue;
    queue.Add(u"+4917", u"after the noise");
    queue.StopAfter(1, 0);
    ASSERT_EQ(link.Run(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.reports.size(), 1u);
    EXPECT_EQ(queue.reports[0].result, SEND_OK);
}

TEST(Transact, RepliesPairWithTheirCommandsWhateverComesBetween)
{
    ModemSim sim({"--gap=30"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    sim.Send("raw \\r\\n+CREG: 5\\r\\nOK\\r\\n");  // registration and a stray OK, while no command waits
    ASSERT_TRUE(WaitUntil([&] { return link.modem.StrayCount() == 1; }));
    AtModem::Result csq = link.modem.Transact("AT+CSQ\r", {{"+CSQ:"}}, 2000);
    ASSERT_EQ(csq.status, AtModem::Status::Answered);
    EXPECT_EQ(csq.reply.text, "+CSQ: 20,99\r\nOK\r\n");
    AtModem::Result cpms = link.modem.Transact("AT+CPMS?\r", {{"+CPMS:"}}, 2000);
    EXPECT_EQ(cpms.reply.text, "+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\nOK\r\n");
    EXPECT_EQ(link.modem.State().registration, 5);
    EXPECT_EQ(link.modem.StrayCount(), 1u);
    sim.Send("hang 300");
    ASSERT_TRUE(WaitUntil([&] { return sim.Count("HANG 300") == 1; }));
    AtModem::Result none = link.modem.Transact("AT+CGMI\r", {{"Norvane"}}, 1);
    EXPECT_EQ(none.status, AtModem::Status::TimedOut);
    EXPECT_EQ(none.Text(), "timedout reading comport");
}

TEST(ModemState, ReadAtOpenAndFollowedFromUnsolicitedLines)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    ModemState state = link.modem.State();
    EXPECT_EQ(state.signal, 20);
    EXPECT_EQ(state.registration, 1);
    EXPECT_EQ(state.operatorName, "Norvane Mobile");
    sim.Send("raw \\r\\n+CREG: 5,\"00C3\",\"B6B9\"\\r\\n^RSSI: 9\\r\\n");
    EXPECT_TRUE(WaitUntil([&] { return link.modem.State().registration == 5 && link.modem.State().signal == 9; }));
}

TEST(ModemGone, ALinePulledOutEndsRunAtOnce)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    sim.Send("replug 3000");
    FakeQueue queue;
    queue.StopAfter(0, 1);  // waits for the device's event
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.Run(&queue), DISP_E_EXCEPTION);
    EXPECT_EQ(ErrorText(), "The modem's line has closed: the port failed or the modem went away");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(ModemGone, ASilentModemIsNoticedWhileIdle)
{
    ModemSim sim({});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    sim.Send("hang 3000");
    FakeQueue queue;
    queue.StopAfter(0, 1);
    EXPECT_EQ(link.Run(&queue), DISP_E_EXCEPTION);
    EXPECT_EQ(ErrorText(), "The modem does not answer: no reply to AT+CSQ within 60 s");
}

TEST(Pin, ARefusedPinIsNeverSentAgainUntilItChanges)
{
    ModemSim sim({"--pin-state=pin", "--pin=4321"});
    AtSettings wrong = Link::DefaultSettings();
    wrong.Pin = "1111";
    for (int run = 0; run < 3; ++run) {
        Link link(sim, wrong);
        ASSERT_TRUE(link.ok);
        EXPECT_EQ(link.Open(), DISP_E_EXCEPTION);
        std::string error = ErrorText();
        EXPECT_EQ(error.find("1111"), std::string::npos) << error;
        if (run > 0) {
            EXPECT_EQ(error, "The SIM refused the PIN of the Pin parameter before: it is not sent again until the Pin "
                             "parameter changes (a SIM locks itself after three wrong PINs)");
        }
        link.port.ClosePort();
    }
    EXPECT_EQ(sim.Count("< AT+CPIN=\"1111\""), 1);
    AtSettings right = Link::DefaultSettings();
    right.Pin = "4321";
    Link link(sim, right);
    ASSERT_TRUE(link.ok);
    EXPECT_EQ(link.Open(), S_OK) << ErrorText();
    EXPECT_EQ(sim.Count("< AT+CPIN=\"4321\""), 1);
}

TEST(Pin, TheDumpMasksThePin)
{
    ModemSim sim({"--pin-state=pin", "--pin=4321"});
    AtSettings settings = Link::DefaultSettings();
    settings.Pin = "4321";
    Link link(sim, settings);
    ASSERT_TRUE(link.ok);
    std::string dump = sim.rootPath() + "/dump";
    link.port.SetDumpPath(dump);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    std::ifstream in(dump);
    std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(text.find("AT+CPIN=\"****\"\r"), std::string::npos);
    EXPECT_EQ(text.find("\"4321\""), std::string::npos);
}

struct InboundCase {
    const char* name;
    std::vector<std::string> options;
    bool stored;
};

void PrintTo(const InboundCase& c, std::ostream* os) { *os << c.name; }

class Inbound : public ::testing::TestWithParam<InboundCase> {};

// What each storage of the simulator holds: "STORED SM=0 ME=0".
std::string StorageReport(ModemSim& sim)
{
    sim.Send("report");
    EXPECT_TRUE(WaitUntil([&] { return sim.CountPrefix("STORED") > 0; }));
    for (const std::string& line : sim.Transcript())
        if (line.rfind("STORED", 0) == 0)
            return line;
    return "";
}

TEST_P(Inbound, ReceivedMessagesReachTheServiceOnceAndLeaveNothingStored)
{
    ModemSim sim(GetParam().options);
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK);
    sim.Send("deliver +4915112345678 Server db1 is back");
    sim.Send("deliver 0301234 second one");
    FakeQueue queue;
    queue.StopAfter(0, 2);
    ASSERT_EQ(link.Run(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.incoming.size(), 2u);
    EXPECT_EQ(queue.incoming[0].from, u"+4915112345678");
    EXPECT_EQ(queue.incoming[0].body, u"Server db1 is back");
    EXPECT_EQ(queue.incoming[1].from, u"0301234");
    EXPECT_EQ(queue.incoming[1].body, u"second one");
    // A stored message is read (by the listing at start or by AT+CMGR,
    // whichever comes first) and deleted once it is stored.
    int stored = GetParam().stored ? 1 : 0;
    EXPECT_EQ(sim.Count("< AT+CMGD=1"), stored);
    EXPECT_EQ(sim.Count("< AT+CMGD=2"), stored);
    EXPECT_LE(sim.Count("< AT+CMGR=1"), stored);
    EXPECT_LE(sim.Count("< AT+CMGR=2"), stored);
    std::string report = StorageReport(sim);
    for (char n = '1'; n <= '9'; ++n)
        EXPECT_EQ(report.find(std::string("=") + n), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Deliveries, Inbound,
    ::testing::Values(InboundCase{"StoredAndAnnounced", {"--delivery=cmti"}, true},
                      InboundCase{"DeliveredDirectly", {"--delivery=cmt"}, false},
                      InboundCase{"AsCnmiSays", {"--delivery=cnmi"}, false},
                      InboundCase{"StoredInPhoneMemory", {"--delivery=cmti", "--storage=ME", "--storages=SM,ME"}, true},
                      InboundCase{
                          "StoredWhereOnlyMtIsOffered", {"--delivery=cmti", "--storage=MT", "--storages=MT"}, true},
                      InboundCase{"NeverAnnounced", {"--delivery=cnmi", "--refuse=AT+CNMI"}, true}));

TEST(StoredMessages, ThoseOnTheSimAtStartAreTakenAndDeletedOnceStored)
{
    ModemSim sim({});
    sim.Send("store +4915112345678 stored while the service was down");
    sim.Send("store-pdu XYZ");
    ASSERT_TRUE(WaitUntil([&] { return sim.CountPrefix("STORE") == 2; }));
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    FakeQueue queue;
    queue.StopAfter(0, 2);
    ASSERT_EQ(link.Run(&queue), S_OK) << ErrorText();
    ASSERT_EQ(queue.incoming.size(), 2u);
    EXPECT_EQ(queue.incoming[0].from, u"+4915112345678");
    EXPECT_EQ(queue.incoming[0].body, u"stored while the service was down");
    EXPECT_EQ(queue.incoming[1].from, u"");  // a PDU that does not decode is kept as it came
    EXPECT_EQ(queue.incoming[1].body, u"XYZ");
    EXPECT_EQ(sim.Count("< AT+CMGL=4"), 1);
    EXPECT_EQ(sim.Count("< AT+CMGD=1"), 1);
    EXPECT_EQ(sim.Count("< AT+CMGD=2"), 1);
}

// A modem that announces nothing has its storage listed at every idle
// check, so a message that comes while the device runs still arrives.
TEST(StoredMessages, AModemThatAnnouncesNothingIsListedWhileIdle)
{
    ModemSim sim({"--delivery=cnmi", "--refuse=AT+CNMI"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    std::thread later([&] {
        if (WaitUntil([&] { return sim.Count("< AT+CMGL=4") >= 1; }))
            sim.Send("deliver +4915112345678 came while idle");
    });
    FakeQueue queue;
    queue.StopAfter(0, 1);
    EXPECT_EQ(link.Run(&queue), S_OK) << ErrorText();
    later.join();
    ASSERT_EQ(queue.incoming.size(), 1u);
    EXPECT_EQ(queue.incoming[0].body, u"came while idle");
    EXPECT_GE(sim.Count("< AT+CMGL=4"), 2);
    EXPECT_EQ(sim.CountPrefix("< AT+CMGR"), 0);
}

TEST(StoredMessages, AHostThatTakesNoMessagesLeavesThemOnTheSim)
{
    ModemSim sim({});
    sim.Send("store +4915112345678 for the service, not the test tool");
    ASSERT_TRUE(WaitUntil([&] { return sim.CountPrefix("STORE") == 1; }));
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    FakeQueue queue;
    queue.takesNone = true;
    queue.Add(u"+4917", u"one message");
    queue.StopAfter(1, 0);
    ASSERT_EQ(link.Run(&queue), S_OK) << ErrorText();
    EXPECT_EQ(queue.reports.size(), 1u);
    EXPECT_EQ(sim.CountPrefix("< AT+CMGD"), 0);
}

TEST(StoredMessages, AMessageTheServiceCannotStoreStaysOnTheSim)
{
    ModemSim sim({"--delivery=cmti"});
    Link link(sim);
    ASSERT_TRUE(link.ok);
    ASSERT_EQ(link.Open(), S_OK) << ErrorText();
    sim.Send("deliver +4915112345678 disk full");
    ASSERT_TRUE(WaitUntil([&] { return sim.CountPrefix("DELIVER") == 1; }));
    FakeQueue queue;
    queue.failStores = 1;
    queue.StopAfter(0, 1);
    ASSERT_EQ(link.Run(&queue), S_OK) << ErrorText();
    EXPECT_EQ(queue.refused, 1);
    EXPECT_EQ(sim.Count("< AT+CMGD=1"), 0);
    // The next run finds it on the SIM and stores it.
    FakeQueue again;
    again.StopAfter(0, 1);
    ASSERT_EQ(link.Run(&again), S_OK) << ErrorText();
    ASSERT_EQ(again.incoming.size(), 1u);
    EXPECT_EQ(again.incoming[0].body, u"disk full");
    EXPECT_EQ(sim.Count("< AT+CMGD=1"), 1);
}

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

}  // namespace
