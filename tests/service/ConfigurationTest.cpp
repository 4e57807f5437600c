#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "service/EventCapture.h"
#include "service/host/ServiceModule.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using velmo::host::ServiceModule;

namespace {

constexpr const char* kLimits = "<configuration><queue max='10'/><retries max='3'/></configuration>";
constexpr const char* kModem = "{11111111-2222-3333-4444-555555555555}";

std::string Device(const std::string& attributes, const std::string& inner = "")
{
    return "<device " + attributes + ">" + inner + "</device>";
}

std::string Config(const std::string& devices, const std::string& rules = "<rules/>",
                   const std::string& handlers = "<eventhandlers/>", const std::string& limits = kLimits)
{
    return "<velmo>" + limits + "<devices>" + devices + "</devices>" + rules + handlers + "</velmo>";
}

struct Loaded {
    bool result = false;
    std::string events;
    std::vector<std::pair<LONG, std::string>> devices;
    LONG defaultDevice = -99;
    std::vector<std::pair<LONG, bool>> rules;
    std::size_t handlers = 0;
    LONG queueMax = -1, retryMax = -1;
    std::uint32_t queueExpire = 0;
    std::string root;
};

Loaded Load(const std::string& xml, const std::string& folder)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "config.xml") << xml;
    Loaded out;
    ServiceModule module;
    out.events = CaptureEvents([&] { out.result = velmo::host::LoadConfiguration(module); });
    module.dispatcher.Devices().ForEach(
        [&](velmo::devices::DeviceHost& d) { out.devices.emplace_back(d.Id(), velmo::Utf16ToUtf8(d.Name())); });
    out.defaultDevice = module.dispatcher.Devices().DefaultDevice();
    module.dispatcher.Devices().ForEachRule(
        [&](const velmo::routing::RoutingRule& r) { out.rules.emplace_back(r.DeviceId(), r.ContinueSearch()); });
    out.handlers = module.eventHandlers.Handlers().size();
    out.queueMax = module.dispatcher.queueMax;
    out.retryMax = module.dispatcher.retryMax;
    out.queueExpire = module.dispatcher.queueExpire;
    out.root = velmo::Utf16ToUtf8(module.rootFolder);
    return out;
}

using Devices = std::vector<std::pair<LONG, std::string>>;
using Rules = std::vector<std::pair<LONG, bool>>;

struct Case {
    const char* name;
    std::string xml;
    bool result;
    std::string event;  // "" for none
    Devices devices;
    LONG defaultDevice;
    Rules rules;
    std::size_t handlers;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const std::string kOne = Device("status='1' id='1' name='Modem' clsid='" + std::string(kModem) + "'");
const std::string kTwo = Device("status='1' id='2' name='Second' clsid='" + std::string(kModem) + "'");
// The two events of a file that is rejected: the verdict, then every problem.
std::string Invalid(const std::string& problems)
{
    return "velmosvc: error: config.xml: invalid configuration file.\nvelmosvc: error: config.xml: " + problems + ".\n";
}
const std::string kAllMissing = "/velmo/configuration/queue is missing; /velmo/configuration/retries is missing; "
                                "/velmo/devices is missing; /velmo/rules is missing; /velmo/eventhandlers is missing";
const char* kNoDevices = "velmosvc: error: config.xml: no devices specified.\n";

std::vector<Case> Cases()
{
    return {
        {"Complete",
         Config(kOne + kTwo,
                "<rules def_device_id='2'><r match='\\+49' device_id='1'/><r match='.*' device_id='2' "
                "continue='false'/></rules>",
                "<eventhandlers><h clsid='" + std::string(kModem) + "'/></eventhandlers>"),
         true,
         "",
         {{1, "Modem"}, {2, "Second"}},
         2,
         {{1, true}, {2, false}},
         1},
        {"QueueWithoutMax",
         Config(kOne, "<rules/>", "<eventhandlers/>", "<configuration><queue/><retries max='3'/></configuration>"),
         false,
         Invalid("line 1, column 23: /velmo/configuration/queue: the attribute max is missing or not a number"),
         {},
         0,
         {},
         0},
        {"RetriesNotAnInteger",
         Config(kOne, "<rules/>", "<eventhandlers/>",
                "<configuration><queue max='1'/><retries max='many'/></configuration>"),
         false,
         Invalid("line 1, column 39: /velmo/configuration/retries: the attribute max is missing or not a number"),
         {},
         0,
         {},
         0},
        {"ExpireNotAPeriod",
         Config(kOne, "<rules/>", "<eventhandlers/>",
                "<configuration><queue max='1' expire='2 hours'/><retries max='3'/></configuration>"),
         false,
         Invalid("line 1, column 23: /velmo/configuration/queue: expire \"2 hours\" is not a period such as 30m, 6h "
                 "or 4d"),
         {},
         0,
         {},
         0},
        {"NotWellFormed",
         "<velmo><configuration>",
         false,
         Invalid("line 1, column 22: Start-end tags mismatch; " + kAllMissing),
         {},
         0,
         {},
         0},
        {"WrongDocumentElement",
         "<other>" + std::string(kLimits) + "<devices>" + kOne + "</devices><rules/><eventhandlers/></other>",
         false,
         Invalid(kAllMissing),
         {},
         0,
         {},
         0},
        {"MissingRulesKeepsEarlierDevices",
         "<velmo>" + std::string(kLimits) + "<devices>" + kOne + "</devices><eventhandlers/></velmo>",
         false,
         Invalid("/velmo/rules is missing"),
         {{1, "Modem"}},
         1,
         {},
         0},
        {"MissingEventHandlers",
         "<velmo>" + std::string(kLimits) + "<devices>" + kOne + "</devices><rules/></velmo>",
         false,
         Invalid("/velmo/eventhandlers is missing"),
         {{1, "Modem"}},
         1,
         {},
         0},
        {"EmptyDevices", Config(""), false, kNoDevices, {}, 0, {}, 0},
        {"AllDisabled", Config(Device("status='0' id='1' name='A' clsid='x'")), false, kNoDevices, {}, 0, {}, 0},
        {"FirstDisabledSecondBecomesDefault",
         Config(Device("status='0' id='1' name='A' clsid='x'") + kTwo),
         true,
         "",
         {{2, "Second"}},
         2,
         {},
         0},
        {"EntryWithoutNameIsSkipped",
         Config(Device("status='1' id='1' clsid='x'") + kTwo),
         true,
         "",
         {{2, "Second"}},
         2,
         {},
         0},
        {"CommentAndTextAmongEntries", Config("<!-- spare -->text" + kOne), true, "", {{1, "Modem"}}, 1, {}, 0},
        {"FirstEnabledIdZeroIsRefusedSoTheNextIsDefault",
         Config(Device("status='1' id='0' name='Z' clsid='x'") + kTwo),
         true,
         "velmosvc: warning: config.xml: the default device 0 is not configured or not enabled: device 2 is the "
         "default.\n",
         {{2, "Second"}},
         2,
         {},
         0},
        {"DuplicateIdFirstWins",
         Config(kOne + Device("status='1' id='1' name='Dup' clsid='x'")),
         true,
         "",
         {{1, "Modem"}},
         1,
         {},
         0},
        {"UnconvertibleClsidStillAdded",
         Config(Device("status='1' id='3' name='Odd' clsid='not a class'")),
         true,
         "",
         {{3, "Odd"}},
         3,
         {},
         0},
        {"DefaultNamingNoDeviceFallsBackToTheFirst",
         Config(kOne, "<rules def_device_id='77'/>"),
         true,
         "velmosvc: warning: config.xml: the default device 77 is not configured or not enabled: device 1 is the "
         "default.\n",
         {{1, "Modem"}},
         1,
         {},
         0},
        {"RulesNamingMissingOrDisabledDevicesSkipped",
         Config(kOne + Device("status='0' id='2' name='Off' clsid='x'"),
                "<rules><r match='a' device_id='2'/><r match='b' device_id='5'/><r match='c' device_id='1'/></rules>"),
         true,
         "velmosvc: warning: config.xml: the rule [a] names device 2, which is not configured or not enabled: the rule "
         "is skipped.\nvelmosvc: warning: config.xml: the rule [b] names device 5, which is not configured or not "
         "enabled: the rule is skipped.\n",
         {{1, "Modem"}},
         1,
         {{1, true}},
         0},
        {"UnknownChoiceWarnsAndStaysRandom",
         Config(kOne, "<rules choose='round_robin'/>"),
         true,
         "velmosvc: warning: config.xml: rules choose=\"round_robin\" is not known: the choice is random.\n",
         {{1, "Modem"}},
         1,
         {},
         0},
        {"DefaultNotAnIntegerKeepsFirst",
         Config(kOne, "<rules def_device_id='x'/>"),
         true,
         "",
         {{1, "Modem"}},
         1,
         {},
         0},
        {"FaultyRulesSkipped",
         Config(kOne, "<rules><r device_id='1'/><r match='a' device_id='one'/><r match='(' device_id='1'/>"
                      "<r match='b' device_id='1' continue='0'/><r match='c' device_id='1' continue='maybe'/>"
                      "<r match='d' device_id='1' continue='FALSE'/></rules>"),
         true,
         "",
         {{1, "Modem"}},
         1,
         {{1, false}, {1, true}, {1, false}},
         0},
        {"HandlersKeepOrderAndBadClassesStay",
         Config(kOne, "<rules/>",
                "<eventhandlers><h clsid='junk'/><h/><!-- c --><h clsid='" + std::string(kModem) +
                    "'/></eventhandlers>"),
         true,
         "",
         {{1, "Modem"}},
         1,
         {},
         2},
    };
}

class Configuration : public ::testing::TestWithParam<Case> {};

TEST_P(Configuration, LoadsWhatTheFileSays)
{
    TempRoot root;
    const Case& c = GetParam();
    Loaded out = Load(c.xml, root.path() + "/var/lib/velmo/");
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(out.events, c.event);
    EXPECT_EQ(out.devices, c.devices);
    EXPECT_EQ(out.defaultDevice, c.defaultDevice);
    EXPECT_EQ(out.rules, c.rules);
    EXPECT_EQ(out.handlers, c.handlers);
}

INSTANTIATE_TEST_SUITE_P(Files, Configuration, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ConfigurationRoot, RegistryValueGetsASlashAndLimitsAreRead)
{
    TempRoot root;
    std::string folder = root.path() + "/custom";
    std::string limits = "<configuration><queue max='0' expire='1d12h'/><retries max='-2'/></configuration>";
    for (const std::string& value : {folder, folder + "/"}) {
        ASSERT_EQ(SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root",
                                    velmo::Utf8ToUtf16(value)),
                  ERROR_SUCCESS);
        Loaded out = Load(Config(kOne, "<rules/>", "<eventhandlers/>", limits), folder + "/");
        EXPECT_TRUE(out.result);
        EXPECT_EQ(out.root, folder + "/");
        EXPECT_EQ(out.queueMax, 0);
        EXPECT_EQ(out.queueExpire, 36u * 3600);
        EXPECT_EQ(out.retryMax, -2);
    }
}

TEST(ConfigurationRoot, LongRootValueIsReadWhole)
{
    TempRoot root;
    std::string folder = root.path() + "/" + std::string(200, 'r');
    ASSERT_EQ(
        SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root", velmo::Utf8ToUtf16(folder)),
        ERROR_SUCCESS);
    Loaded out = Load(Config(kOne), folder + "/");
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.root, folder + "/");
}

TEST(ConfigurationRoot, NoRegistryKeyMeansTheDefaultFolder)
{
    TempRoot root;
    Loaded out = Load(Config(kOne), root.path() + "/var/lib/velmo/");
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.root, root.path() + "/var/lib/velmo/");
}

TEST(ConfigurationParams, DeviceGetsItsWholeEntryElement)
{
    TempRoot root;
    std::string folder = root.path() + "/var/lib/velmo/";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "config.xml") << Config(
        Device("status='1' id='4' name='GSM' clsid='" + std::string(kModem) + "'",
               "<param name='port' value='COM1:'/><param name='pin' value='1234'/>"));
    ServiceModule module;
    ASSERT_TRUE(velmo::host::LoadConfiguration(module));
    std::string params;
    GUID clsid{};
    module.dispatcher.Devices().ForEach([&](velmo::devices::DeviceHost& d) {
        params = velmo::Utf16ToUtf8(d.Params());
        clsid = d.Clsid();
    });
    EXPECT_EQ(params, "<device status=\"1\" id=\"4\" name=\"GSM\" clsid=\"" + std::string(kModem) +
                          "\"><param name=\"port\" value=\"COM1:\"/><param name=\"pin\" value=\"1234\"/></device>");
    EXPECT_EQ(velmo::GuidToUtf8(clsid), kModem);
}

}  // namespace
