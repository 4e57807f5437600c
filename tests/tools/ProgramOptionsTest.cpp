// Every program answers --help and --version alike, and refuses an option
// it does not know with its usage on standard error and exit code 2.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Ran {
    int code = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Ran RunProgram(const std::string& program, const std::string& arg)
{
    char tmpl[] = "/tmp/velmo-options-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string command = "'" + program + "' " + arg + " >'" + dir + "/out' 2>'" + dir + "/err' </dev/null";
    int status = std::system(command.c_str());
    Ran r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(dir + "/out");
    r.err = Slurp(dir + "/err");
    std::filesystem::remove_all(dir);
    return r;
}

struct ProgramCase {
    const char* name;
    const char* path;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class StandardOptions : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(StandardOptions, HelpVersionAndAnUnknownOption)
{
    const std::string name = GetParam().name;
    const std::string usage = "usage: " + name;

    Ran help = RunProgram(GetParam().path, "--help");
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
    EXPECT_NE(help.out.find(name + " --help | --version\n"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    Ran version = RunProgram(GetParam().path, "--version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, name + " (Velmo) " VELMO_VERSION "\n");
    EXPECT_EQ(version.err, "");

    Ran unknown = RunProgram(GetParam().path, "--no-such-option");
    EXPECT_EQ(unknown.code, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err.rfind(name + ": ", 0), 0u) << unknown.err;
    EXPECT_NE(unknown.err.find("--no-such-option"), std::string::npos) << unknown.err;
    // The usage follows the line that says what was wrong, and is the one --help prints.
    EXPECT_EQ(unknown.err.substr(unknown.err.find('\n') + 1), help.out);
}

INSTANTIATE_TEST_SUITE_P(Programs, StandardOptions,
                         ::testing::Values(ProgramCase{"velmosvc", VELMO_SVC}, ProgramCase{"velmo", VELMO_VELMO},
                                           ProgramCase{"msgview", VELMO_MSGVIEW}, ProgramCase{"devtest", VELMO_DEVTEST},
                                           ProgramCase{"modemsim", VELMO_MODEMSIM}, ProgramCase{"regsvr", VELMO_REGSVR},
                                           ProgramCase{"velmo-http", VELMO_HTTP}),
                         [](const auto& param) {
                             std::string name = param.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
