// velmo modems against simulated modems on pseudo-terminals: lines found
// under the system root's /dev, a silent line, a held line, one modem on
// two lines.
#include "cellgate/ModemSimHarness.h"
#include "platform/Serial.h"
#include "platform/Sync.h"
#include "tools/velmo/ModemsCommand.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

namespace fs = std::filesystem;

namespace {

void Link(const std::string& root, const std::string& name, const std::string& target)
{
    fs::path link = fs::path(root) / name;
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Headings(const std::string& text)
{
    std::vector<std::string> headings;
    for (const std::string& line : Lines(text))
        if (!line.empty() && line[0] != '\t')
            headings.push_back(line);
    return headings;
}

}  // namespace

TEST(ModemsCommand, FindsEachModemOnceAsksOnlyAndSkipsWhatItMayNotTouch)
{
    ModemSim acme({"--manufacturer=ACME", "--model=Stick 3", "--imei=111111111111111"}, 11);
    ModemSim acmeSecondLine({"--manufacturer=ACME", "--model=Stick 3", "--imei=111111111111111"}, 12);
    ModemSim old({"--cpin-final=off", "--pin-state=pin", "--echo=on", "--imei=222222222222222"}, 13);
    ModemSim silent({"--mute=on"}, 14);
    ModemSim held({}, 15);
    TempRoot root;
    velmo::Handle holding(velmo::OpenSerialPort(held.tty()));
    ASSERT_NE(holding.get(), INVALID_HANDLE_VALUE);
    const std::string byId = root.path() + "/dev/serial/by-id/usb-ACME_&_Co_Stick_3-if00-port0";
    Link(root.path(), "dev/serial/by-id/usb-ACME_&_Co_Stick_3-if00-port0", acme.tty());
    Link(root.path(), "dev/ttyUSB0", acme.tty());  // named by its by-id link: probed once, under that name
    Link(root.path(), "dev/ttyUSB1", acmeSecondLine.tty());
    Link(root.path(), "dev/ttyUSB2", held.tty());
    Link(root.path(), "dev/ttyACM0", old.tty());
    Link(root.path(), "dev/ttyACM1", silent.tty());
    Link(root.path(), "dev/ttyS0", silent.tty());  // no modem is looked for on built-in ports

    std::ostringstream out, err;
    ASSERT_EQ(velmo::cli::ModemsCommand({}, out, err), 0) << err.str();
    const std::string d = root.path() + "/dev/";
    std::vector<std::string> expected{
        byId + " (" + acme.tty() + "): a modem answers",
        d + "ttyUSB1: a modem answers",
        d + "ttyUSB2: skipped, held by ",
        d + "ttyACM0: a modem answers",
        d + "ttyACM1: nothing answers AT (not the modem's AT line, or the modem is off)",
    };
    std::vector<std::string> headings = Headings(out.str());
    ASSERT_EQ(headings.size(), expected.size()) << out.str();
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(headings[i].substr(0, expected[i].size()), expected[i]) << out.str();
    const std::string text = out.str();
    EXPECT_NE(headings[2].find("tool_tests (pid " + std::to_string(getpid()) + ")"), std::string::npos) << headings[2];
    EXPECT_NE(text.find("\tmodem: ACME Stick 3, revision 1.0, IMEI 111111111111111\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tSIM: ready, signal -73 dBm, registration home, operator Norvane Mobile\n"),
              std::string::npos);
    EXPECT_NE(text.find("\tthe same modem as " + byId + ": one entry is enough\n"), std::string::npos);
    const std::string byIdInXml = root.path() + "/dev/serial/by-id/usb-ACME_&amp;_Co_Stick_3-if00-port0";
    EXPECT_NE(text.find("\t    <param name=\"Port\" value=\"" + byIdInXml + "\" />\n"), std::string::npos);
    EXPECT_NE(text.find("\tthe SIM asks for its PIN: put it in the Pin parameter\n"), std::string::npos);
    EXPECT_EQ(text.find("value=\"" + d + "ttyUSB1\""), std::string::npos);  // the second line of a modem: no entry

    // Only questions reach a modem: no PIN, no setting, nothing on a held line.
    const std::set<std::string> questions{"< AT",       "< AT+CGMI", "< AT+CGMM",  "< AT+CGMR", "< AT+CGSN",
                                          "< AT+CPIN?", "< AT+CSQ",  "< AT+CREG?", "< AT+COPS?"};
    for (const ModemSim* sim : {&acme, &old}) {
        for (const std::string& line : sim->Transcript()) {
            if (line.rfind("< ", 0) == 0) {
                EXPECT_TRUE(questions.count(line)) << line;
            }
        }
    }
    EXPECT_EQ(held.CountPrefix("< "), 0);

    std::ostringstream json;
    ASSERT_EQ(velmo::cli::ModemsCommand({"--json", "--comm", "9600,n,8,1", old.tty()}, json, err), 0);
    nlohmann::json lines = nlohmann::json::parse(json.str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["line"], "answers");
    EXPECT_EQ(lines[0]["sim"], "PIN");
    EXPECT_EQ(lines[0]["imei"], "222222222222222");
    EXPECT_EQ(lines[0]["signalDbm"], -73);
    EXPECT_TRUE(lines[0]["sameModemAs"].is_null());
    std::string entry = lines[0]["deviceEntry"];
    EXPECT_NE(entry.find("<param name=\"CommConfig\" value=\"9600,n,8,1\" />"), std::string::npos) << entry;
    EXPECT_NE(entry.find("<param name=\"Pin\" value=\"....\" />"), std::string::npos) << entry;
}

TEST(ModemsCommand, NothingToProbeAndBadArgumentsAreSaidPlainly)
{
    TempRoot root;
    struct {
        std::vector<std::string> args;
        int code;
        const char* out;  // the first line printed, or the start of the complaint
    } cases[] = {
        {{}, 1, "velmo modems: no serial line found under /dev/serial/by-id/"},
        {{"/dev/null"}, 1, "/dev/null: not a serial line"},
        {{root.path() + "/nothing"}, 1, ""},
        {{"--comm", "fast", "/dev/null"}, 2, "velmo modems: --comm fast is no line setting"},
        {{"--speed", "9600"}, 2, "velmo modems: "},
        {{"--json=yes"}, 2, "velmo modems: "},
    };
    for (const auto& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(velmo::cli::ModemsCommand(c.args, out, err), c.code) << c.args.size();
        std::string said = out.str() + err.str();
        EXPECT_EQ(said.substr(0, std::string(c.out).size()), c.out) << said;
    }
    std::ostringstream out, err;
    velmo::cli::ModemsCommand({root.path() + "/nothing"}, out, err);
    EXPECT_EQ(out.str(), root.path() + "/nothing: there is no such device\n");
}
