// velmosvc and the GSM device against modems that each behave as one kind
// of real modem is documented to behave: for every profile one message goes
// out, one received message lands in in/ exactly once, and the modem's
// storages are empty afterwards. Then a modem that is away for minutes while
// messages wait, and the package's example configuration.
#include "service/GsmSandbox.h"

#include <chrono>
#include <sstream>

using Clock = std::chrono::steady_clock;

namespace {

// The config.xml of the sandbox with one parameter line of the device taken
// out (its value is never needed again).
void DropParam(const GsmSandbox& box, const std::string& name)
{
    std::string path = box.Folder("") + "config.xml";
    std::ifstream in(path);
    std::string text(std::istreambuf_iterator<char>(in), {}), kept;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find("name=\"" + name + "\"") == std::string::npos)
            kept += line + "\n";
    std::ofstream(path) << kept;
}

// The counts of the simulator's storages, after a "report" control line:
// true when every storage it ever used is empty.
bool StoragesEmpty(const GsmSandbox& box, std::string& report)
{
    int before = box.CountPrefix("STORED");
    box.Control("report");
    if (!WaitUntil([&] { return box.CountPrefix("STORED") > before; }))
        return false;
    std::string text = box.Transcript();
    std::size_t at = text.rfind("STORED");
    report = text.substr(at, text.find('\n', at) - at);
    for (std::size_t eq = report.find('='); eq != std::string::npos; eq = report.find('=', eq + 1))
        if (eq + 1 < report.size() && report[eq + 1] >= '1' && report[eq + 1] <= '9')
            return false;
    return true;
}

struct Profile {
    const char* name;
    std::vector<std::string> modem;
    std::string cnmi;
    bool ownServiceCentre;  // no SMSCentral: the SIM's own is used
};

void PrintTo(const Profile& p, std::ostream* os) { *os << p.name; }

class Profiles : public ::testing::TestWithParam<Profile> {};

TEST_P(Profiles, OneSentOneReceivedOnceAndNothingLeftInTheModem)
{
    const Profile& p = GetParam();
    GsmSandbox box(p.modem, p.cnmi);
    if (p.ownServiceCentre)
        DropParam(box, "SMSCentral");
    auto start = Clock::now();
    Program service({"/DEBUG"}, Divisor(10));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= 1; }, std::chrono::seconds(30))) << service.Err();
    auto opened = Clock::now();

    box.Drop(u"+491711234567", u"profile check");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234567 profile check"), 1);

    box.Control("deliver +4915112345678 an answer from the field");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1; }, std::chrono::seconds(30))) << service.Err();
    // Two idle checks later (3 s each at this divisor) it is still there once.
    int listings = box.Count("< AT+CMGL=4");
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= listings + 2; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_EQ(box.Files("in").size(), 1u);
    std::string report;
    EXPECT_TRUE(StoragesEmpty(box, report)) << report;
    EXPECT_TRUE(box.Files("out/failed").empty());
    StopService(service);
    std::string err = service.Err();
    EXPECT_EQ(err.find("has terminated unexpectedly"), std::string::npos) << err;
    if (p.ownServiceCentre) {
        EXPECT_NE(err.find("The device sends through the SIM's own service centre +491700000000"), std::string::npos)
            << err;
    }
    std::printf("[ profile  ] %-24s sent 1, received 1, storages empty (%s), open %lld ms\n", p.name, report.c_str(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(opened - start).count()));
}

INSTANTIATE_TEST_SUITE_P(
    Modems, Profiles,
    ::testing::Values(
        Profile{"WellBehaved", {}, "2,1", false},
        Profile{"CpinWithoutFinal", {"--cpin-final=off", "--pin-state=pin"}, "2,1", false},
        Profile{"CharacterSetRefused", {"--refuse=AT+CSCS", "--refuse-with=COMMAND NOT SUPPORT"}, "1,2", false},
        Profile{"NoCnmiNoCpms", {"--refuse=AT+CNMI|AT+CPMS", "--delivery=cnmi"}, "1,2", false},
        Profile{"PhoneMemory", {"--storage=ME", "--storages=SM,ME,MT", "--delivery=cmti"}, "2,1", false},
        Profile{"EveryQuirk",
                {"--cpin-final=off", "--refuse=AT+CSCS|AT+CNMI|AT+CPMS|AT+CMEE|ATS0",
                 "--refuse-with=COMMAND NOT SUPPORT", "--storage=ME", "--storages=ME", "--delivery=cnmi",
                 "--sim-busy=300"},
                "2,1",
                true}),
    [](const auto& param) { return std::string(param.param.name); });

// Twenty alerts wait while the modem is away for three minutes (at the
// divisor, 9 s): the device waits for it instead of being given up, and
// every alert goes out once it is back.
TEST(ModemAway, TwentyMessagesWaitForAModemPulledOutForMinutes)
{
    GsmSandbox box({});
    Program service({"/DEBUG"}, Divisor(20));
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< AT+CMGL=4") >= 1; }, std::chrono::seconds(30))) << service.Err();
    box.Control("replug 9000");
    ASSERT_TRUE(WaitUntil([&] { return box.Count("UNPLUGGED") == 1; }));
    for (int i = 0; i < 20; ++i)
        box.Drop(u"+4917112345" + velmo::Utf8ToUtf16(std::to_string(i)),
                 u"alert " + velmo::Utf8ToUtf16(std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return box.CountPrefix("PLUGGED") == 1; }, std::chrono::seconds(30)));
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 20; }, std::chrono::seconds(60)))
        << service.Err();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(box.Count("SUBMIT +4917112345" + std::to_string(i) + " alert " + std::to_string(i)), 1) << i;
    EXPECT_TRUE(box.Files("out/failed").empty());
    StopService(service);
    std::string err = service.Err();
    EXPECT_NE(err.find("Device [Modem] has failed restarting > 5 times. It is started again every 60 s"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("Device [Modem] runs again after"), std::string::npos) << err;
    EXPECT_EQ(err.find("All devices has been terminated"), std::string::npos) << err;
}

// The package's example configuration, with the sandbox modem's line as
// its Port: /CHECK passes it, and the service starts and sends with it.
TEST(ExampleConfiguration, ChecksAndStartsOnAWellBehavedModem)
{
    GsmSandbox box({});
    std::ifstream in(VELMO_EXAMPLE_CONFIG);
    std::string text(std::istreambuf_iterator<char>(in), {});
    const std::string placeholder = "/dev/serial/by-id/usb-Your_Modem-if00-port0";
    std::size_t at = text.find(placeholder);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, placeholder.size(), box.dir() + "/dev/ttyS0");
    std::ofstream(box.Folder("") + "config.xml") << text;

    Program check({"/CHECK"});
    EXPECT_EQ(check.Wait(), 0) << check.Out() << check.Err();
    EXPECT_NE(check.Out().find("\nThe service would start.\n"), std::string::npos) << check.Out();
    EXPECT_EQ(check.Out().find("warning"), std::string::npos) << check.Out();

    Program service({"/DEBUG"}, Divisor(10));
    box.Drop(u"+491711234567", u"from the example");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30)))
        << service.Err();
    EXPECT_EQ(box.Count("< AT+CNMI=2,1"), 1);
    EXPECT_EQ(box.CountPrefix("< AT+CSCA=\""), 0);  // the SIM's own service centre is kept
    StopService(service);
}

}  // namespace
