// velmosvc and the GSM device against a modem that behaves like real
// hardware: unsolicited lines, replies in pieces, a late prompt, NULs, a
// busy SIM, silence after the PDU, a refused PIN, a line pulled out, a hang,
// messages stored on the SIM, a kill while receiving and a failed store.
//
// Each run shortens the design's waits by a divisor; the modem's own delays
// are chosen on the same scale (at divisor 10, a 300 ms replug stands for a
// 3 s one).
#include "service/GsmSandbox.h"

#include <chrono>

using velmo::messagefile::MessageRecord;
using Clock = std::chrono::steady_clock;

namespace {

struct SendCase {
    const char* name;
    std::vector<std::string> modem;
    int divisor;
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SentOnce : public ::testing::TestWithParam<SendCase> {};

TEST_P(SentOnce, EveryMessageLeavesExactlyOnceAndTheServiceRunsOn)
{
    const SendCase& c = GetParam();
    GsmSandbox box(c.modem);
    Program service({"/DEBUG"}, Divisor(c.divisor));
    const int n = 3;
    for (int i = 0; i < n; ++i)
        box.Drop(u"+4917112345" + velmo::Utf8ToUtf16(std::to_string(i)),
                 u"alert " + velmo::Utf8ToUtf16(std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == n; }, std::chrono::seconds(60)))
        << service.Err();
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(box.Count("SUBMIT +4917112345" + std::to_string(i) + " alert " + std::to_string(i)), 1) << i;
    EXPECT_TRUE(box.Files("out/failed").empty());
    StopService(service);
    std::string err = service.Err();
    EXPECT_EQ(err.find("has terminated unexpectedly"), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Modems, SentOnce,
    ::testing::Values(SendCase{"UnsolicitedLinesWhileIdle",
                               {"--urc-every=20", "--urc=+CREG: 1|+CSQ: 17,99|@5000|RING|+CIEV: 2,3"},
                               100},
                      SendCase{"UnsolicitedLineBeforeThePrompt", {"--before-prompt=+CIEV: 2,3"}, 100},
                      SendCase{"ReplyLinesApart", {"--gap=200"}, 100},
                      SendCase{"PromptAfterOneSecondDroppingEarlyBytes", {"--prompt-delay=1000"}, 10},
                      SendCase{"NulsBeforeReplies", {"--nul=on"}, 100},
                      SendCase{"SimBusyAtStart", {"--sim-busy=1500"}, 10}));

TEST(ModemFaults, ASilentModemFailsTheMessageAfterTheRetryMaximum)
{
    GsmSandbox box({"--cmgs=silent"});
    Program service({"/DEBUG"}, Divisor(100));
    box.Drop(u"+491711234567", u"into the void");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/failed").size() == 1; }, std::chrono::seconds(60)))
        << service.Err();
    // Retry maximum 3: the first attempt and four retries, then failed.
    EXPECT_EQ(box.Count("SUBMIT +491711234567 into the void"), 5);
    MessageRecord* failed = ReadMessage(box.Files("out/failed")[0]);
    EXPECT_EQ(failed->Status, FAILED);
    EXPECT_EQ(failed->RetryCount, 4);
    std::u16string status = failed->StatusText.str();
    std::u16string once = u"No answer from the modem within 60 s after the PDU";
    int answers = 0;
    for (std::size_t at = status.find(once); at != std::u16string::npos; at = status.find(once, at + 1))
        ++answers;
    EXPECT_EQ(answers, 5) << velmo::Utf16ToUtf8(status);
    EXPECT_NE(status.find(u"Attempted too many retries"), std::u16string::npos);
    failed->Release();
    StopService(service);
}

// A refused PIN is sent once, never again (not by the waiting starts, not
// after a restart of the service), never logged; the service waits on.
TEST(ModemFaults, ARefusedPinIsSentOnceNeverAgainAndNeverLogged)
{
    GsmSandbox box({"--pin-state=pin", "--pin=4321"});  // the sandbox's Pin parameter is 1234
    for (int run = 0; run < 2; ++run) {
        Program service({"/DEBUG"}, Divisor(100));
        int echoes = box.Count("< ATE0");
        // Past the quick starts, into the starts a minute apart.
        ASSERT_TRUE(WaitUntil([&] { return box.Count("< ATE0") >= echoes + 7; }, std::chrono::seconds(30)))
            << service.Err();
        ASSERT_EQ(service.Wait(std::chrono::seconds(0)), -1) << "the service ended: " << service.Err();
        StopService(service);
        std::string err = service.Err();
        EXPECT_EQ(err.find("1234"), std::string::npos) << err;
        EXPECT_NE(err.find(run == 0
                               ? "The SIM refused the PIN: response [+CME ERROR: 16\\r\\n] to command AT+CPIN=\"****\""
                               : "The SIM refused the PIN of the Pin parameter before"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("has failed restarting > 5 times. It is started again every 60 s"), std::string::npos)
            << err;
        // Five quick starts tell it; the waiting starts do not repeat it.
        std::size_t told = 0;
        for (std::size_t at = err.find("Modem::Open failed"); at != std::string::npos;
             at = err.find("Modem::Open failed", at + 1))
            ++told;
        EXPECT_EQ(told, 5u) << err;
        EXPECT_EQ(err.find("All devices has been terminated"), std::string::npos) << err;
    }
    EXPECT_EQ(box.Count("< AT+CPIN=\"1234\""), 1);
}

TEST(ModemFaults, AModemPluggedInLateGetsItsMessageSoonAfter)
{
    GsmSandbox box({});
    box.Control("replug 500");  // at divisor 10: a 5 s replug
    ASSERT_TRUE(WaitUntil([&] { return box.Count("UNPLUGGED") == 1; }));
    box.Queue(u"+491711234567", u"waiting in out/");
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("PLUGGED") == 1; }));
    auto back = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_LT(Clock::now() - back, std::chrono::seconds(3));  // the paced restarts found it back within moments
    EXPECT_EQ(box.Count("SUBMIT +491711234567 waiting in out/"), 1);
    StopService(service);
    std::string err = service.Err();
    EXPECT_NE(err.find("Modem::Open failed: Failed open COM port"), std::string::npos) << err;
    EXPECT_EQ(err.find("has failed restarting"), std::string::npos) << err;
}

TEST(ModemFaults, ALinePulledOutWhileRunningIsNoticedAndTheDeviceComesBack)
{
    GsmSandbox box({});
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
    box.Control("replug 300");
    ASSERT_TRUE(WaitUntil([&] { return service.Err().find("has terminated unexpectedly") != std::string::npos; }))
        << service.Err();
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 2; }, std::chrono::seconds(30))) << service.Err();
    box.Drop(u"+491711234567", u"after the replug");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234567 after the replug"), 1);
    StopService(service);
    std::string err = service.Err();
    EXPECT_NE(err.find("Modem::Run failed: The modem's line has closed: the port failed or the modem went away"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("has failed restarting"), std::string::npos) << err;
}

TEST(ModemFaults, AModemThatHangsAtOpenIsWaitedFor)
{
    GsmSandbox box({});
    box.Queue(u"+491711234567", u"sent after the hang");
    box.Control("hang 900");  // at divisor 10: a 9 s hang
    ASSERT_TRUE(WaitUntil([&] { return box.Count("HANG 900") == 1; }));
    auto hung = Clock::now();
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_LT(Clock::now() - hung, std::chrono::milliseconds(900) + std::chrono::seconds(3));
    EXPECT_EQ(box.Count("SUBMIT +491711234567 sent after the hang"), 1);
    StopService(service);
    std::string err = service.Err();
    EXPECT_EQ(err.find("has terminated unexpectedly"), std::string::npos) << err;
}

TEST(ReceivedMessages, MessagesOnTheSimAtStartLandInIn)
{
    GsmSandbox box({}, "1,1");
    box.Control("store +4915112345678 sent while the service was down");
    box.Control("store-pdu 07FF");  // does not decode: kept as it came
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("STORE") == 2; }));
    Program service({"/DEBUG"}, Divisor(100));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 2; })) << service.Err();
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGD=2") == 1; })) << service.Err();
    EXPECT_EQ(box.Count("< AT+CMGD=1"), 1);
    bool text = false, raw = false;
    for (const std::string& path : box.Files("in")) {
        MessageRecord* in = ReadMessage(path);
        if (in->From.str() == u"+4915112345678") {
            text = in->Body.str() == u"sent while the service was down";
        } else {
            raw = in->Body.str() == u"07FF" && in->From.IsNull() &&
                  in->StatusText.str() ==
                      u"The PDU does not decode as an SMS-DELIVER; the text is the PDU as the modem gave it";
        }
        in->Release();
    }
    EXPECT_TRUE(text);
    EXPECT_TRUE(raw);
    StopService(service);
}

TEST(ReceivedMessages, AKillAfterTheReadLosesNothing)
{
    GsmSandbox box({}, "1,1");
    for (int round = 1; round <= 3; ++round) {
        std::string index = std::to_string(round);
        {
            int listed = box.Count("< AT+CMGL=4");
            Program service({"/DEBUG"}, Divisor(100));
            ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == listed + 1; })) << service.Err();
            box.Control("deliver +4915112345678 round " + index);
            ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGR=" + index) == 1; })) << service.Err();
            kill(service.pid(), SIGKILL);
            EXPECT_EQ(service.Wait(), -1);
        }
        Program again({"/DEBUG"}, Divisor(100));
        ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGD=" + index) >= 1; })) << again.Err();
        StopService(again);
        int copies = 0;
        for (const std::string& path : box.Files("in")) {
            MessageRecord* in = ReadMessage(path);
            copies += in->Body.str() == u"round " + velmo::Utf8ToUtf16(index);
            in->Release();
        }
        EXPECT_GE(copies, 1) << round;
        EXPECT_LE(copies, 2) << round;
    }
}

TEST(ReceivedMessages, AFailedStoreKeepsTheSimCopyUntilItCanBeStored)
{
    GsmSandbox box({}, "1,1");
    std::string in = box.Folder("in");
    std::filesystem::remove_all(in);
    std::ofstream(in.substr(0, in.size() - 1)) << "not a folder";  // nothing can be saved in in/
    Program service({"/DEBUG"}, Divisor(100));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") == 1; })) << service.Err();
    box.Control("deliver +4915112345678 kept on the SIM");
    ASSERT_TRUE(WaitUntil([&] {
        return service.Err().find("A received message could not be stored") != std::string::npos;
    })) << service.Err();
    EXPECT_EQ(box.Count("< AT+CMGD=1"), 0);
    std::filesystem::remove(in.substr(0, in.size() - 1));
    std::filesystem::create_directories(in);
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1 && box.Count("< AT+CMGD=1") == 1; }))
        << service.Err();
    StopService(service);
}

}  // namespace
