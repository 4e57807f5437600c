// velmosvc /CHECK in process: what it prints for a file with every kind of
// fault, for a file that is rejected, and its exit codes; no event is
// logged by a check.
#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"
#include "service/EventCapture.h"
#include "service/host/ServiceModule.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

constexpr const char* kLoopback = "{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}";
constexpr const char* kUnregistered = "{11111111-2222-3333-4444-555555555555}";

// The loopback class registered to module in the test's registry.
void RegisterLoopback(const std::string& module)
{
    ASSERT_EQ(SetRegistryString(velmo::Hive::ClassesRoot,
                                u"CLSID\\{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}\\InprocServer32", u"",
                                velmo::Utf8ToUtf16(module)),
              ERROR_SUCCESS);
}

struct Checked {
    int code = -1;
    std::string out, events;
};

// The check of root's config.xml, written first unless xml is null.
Checked Check(const TempRoot& root, const char* xml)
{
    std::string folder = root.path() + "/var/lib/velmo/";
    std::filesystem::create_directories(folder);
    if (xml)
        std::ofstream(folder + "config.xml") << xml;
    Checked c;
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    velmo::host::ServiceModule module;
    c.events = CaptureEvents([&] { c.code = velmo::host::CheckConfiguration(module, out); });
    std::fclose(out);
    c.out.assign(text, size);
    std::free(text);
    return c;
}

TEST(ConfigCheck, EveryFaultIsNamedWithItsPlaceAndWhatWouldStartIsListed)
{
    TempRoot root;
    RegisterLoopback(VELMO_LOOPBACK);
    std::string xml =
        std::string("<velmo>\n<configuration><queue max='5'/><retries max='2'/></configuration>\n<devices>\n") +
        "  <device status='1' id='1' name='Loop' clsid='" + kLoopback + "'/><device status='1' id='6' " +
        "name='Refusing' clsid='" + kLoopback + "'><param name='fail' value='load'/></device>\n" +
        "  <device status='1' id='2' name='Gone' clsid='" + kUnregistered + "'/>\n" +
        "  <device status='1' id='3' name='Odd' clsid='x'/>\n" +
        "  <device status='0' id='4' name='Off' clsid='x'/>\n" + "  <device id='5' name='NoStatus' clsid='x'/>\n" +
        "  <device status='1' id='1' name='Twice' clsid='x'/>\n" +
        "  <device status='1' id='0' name='Zero' clsid='x'/>\n" + "  <device status='1' name='NoId' clsid='x'/>\n" +
        "  stray text\n" + "</devices>\n" + "<rules def_device_id='4' choose='round_robin'>\n" +
        "  <r match='^49' device_id='1' continue='false'/><r match='(' device_id='1'/>\n" +
        "  <r match='.*' device_id='9'/><r device_id='1'/><r match='^1' device_id='2'/>\n" + "</rules>\n" +
        "<eventhandlers><h/><h clsid='" + kUnregistered + "'/></eventhandlers>\n" + "</velmo>\n<trailing";
    Checked c = Check(root, xml.c_str());
    EXPECT_EQ(c.code, 1);  // devices 2, 3 and 6 would fail
    EXPECT_EQ(c.events, "");
    const std::string anchor = " may never match: ^ never matches here: a rule is searched for anywhere in the "
                               "address, and ^ and $ match at neither of its ends (leave the anchor out: \\+49 finds "
                               "+49 anywhere in the address)\n";
    const std::string unregistered = "the class is not registered (regsvr its module)";
    EXPECT_EQ(c.out, root.path() + "/var/lib/velmo/config.xml\n" +
                         "skipped: line 8, column 3: device <device>: the attribute status is missing or not a number\n"
                         "skipped: line 9, column 3: device <device>: id 1 is taken by an earlier entry\n"
                         "skipped: line 10, column 3: device <device>: id 0 is refused: ids are 1 or more\n"
                         "skipped: line 11, column 3: device <device>: the attribute id is missing or not a number\n"
                         "skipped: line 12, column 3: text among the entries is ignored\n"
                         "skipped: line 15, column 50: rule <r>: the pattern [(] does not compile: Unmatched marking "
                         "parenthesis ( or \\( (error 8)\n"
                         "skipped: line 16, column 32: rule <r>: the attribute match is missing\n"
                         "skipped: line 18, column 16: event handler <h>: the attribute clsid is missing\n"
                         "warning: rules choose=\"round_robin\" is not known: the choice is random\n"
                         "warning: the rule [^49]" +
                         anchor +
                         "warning: the rule [.*] names device 9, which is not configured or not enabled: the rule is "
                         "skipped\n"
                         "warning: the rule [^1]" +
                         anchor +
                         "warning: the default device 4 is not configured or not enabled: device 1 is the default\n"
                         "warning: line 20, column 9: Error parsing start element tag: the service reads what comes "
                         "before it\n"
                         "queue max 5, retries max 2\n"
                         "device 1 \"Loop\" " +
                         kLoopback + ": starts from " + VELMO_LOOPBACK + "\n" + "device 6 \"Refusing\" " + kLoopback +
                         ": starts from " + VELMO_LOOPBACK + "\n" +
                         "device 6 \"Refusing\": problem: Load failed: Loopback Load refused\n"
                         "device 2 \"Gone\" " +
                         kUnregistered + ": " + unregistered + ": it would fail to start\n" +
                         "device 3 \"Odd\" x: not a class id: it would fail to start\n"
                         "device 4 \"Off\": disabled (status 0)\n"
                         "rule [^49] -> device 1, last\n"
                         "rule [^1] -> device 2\n"
                         "default device 1\n"
                         "event handler " +
                         kUnregistered + ": " + unregistered + "\n" +
                         "The service would start, but a device would fail: see above.\n");
}

struct RefusedCase {
    const char* name;
    const char* xml;  // null: no file
    std::string problems;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class ConfigCheckRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ConfigCheckRefused, NamesEveryProblemAndExitsWithOne)
{
    TempRoot root;
    Checked c = Check(root, GetParam().xml);
    std::string path = root.path() + "/var/lib/velmo/config.xml";
    std::string expected = GetParam().problems;
    for (std::size_t at; (at = expected.find("PATH")) != std::string::npos;)
        expected.replace(at, 4, path);
    EXPECT_EQ(c.code, 1);
    EXPECT_EQ(c.events, "");
    EXPECT_EQ(c.out, path + "\n" + expected + "The service would not start.\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigCheckRefused,
    ::testing::Values(
        RefusedCase{"NoFile", nullptr, "problem: the file PATH cannot be read: No such file or directory\n"},
        RefusedCase{"Truncated", "<velmo>\n  <configuration><queue max='1'/>",
                    "problem: line 2, column 33: Start-end tags mismatch\n"
                    "problem: /velmo/configuration/retries is missing\n"
                    "problem: /velmo/devices is missing\n"
                    "problem: /velmo/rules is missing\n"
                    "problem: /velmo/eventhandlers is missing\n"},
        RefusedCase{"RetriesNotANumber",
                    "<velmo><configuration><queue max='1'/><retries max='x'/></configuration>"
                    "<devices/><rules/><eventhandlers/></velmo>",
                    "problem: line 1, column 39: /velmo/configuration/retries: the attribute max is missing or not a "
                    "number\n"},
        RefusedCase{
            "NoDevices",
            "<velmo><configuration><queue max='1' expire='90m'/><retries max='1'/></configuration>"
            "<devices><device status='0' id='1' name='Off' clsid='x'/></devices><rules/><eventhandlers/></velmo>",
            "problem: no devices specified\n"
            "queue max 1, retries max 1, expire after 1h30m\n"
            "device 1 \"Off\": disabled (status 0)\n"
            "default device 0\n"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
