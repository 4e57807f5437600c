// The velmo command's send and status against a running service, run as
// the program a person or script would run.
#include "bus/ServiceSandbox.h"

namespace {

struct Ran {
    int code;
    std::string out;
};

Ran Velmo(const std::string& args, const std::string& input = "")
{
    Ran r{};
    std::string command = "'" VELMO_VELMO "' " + args + " 2>&1";
    if (!input.empty())
        command = "printf '%s' '" + input + "' | " + command;
    r.out = Capture(command, &r.code);
    return r;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

bool IsIsoUtc(const std::string& s)
{
    return s.size() == 20 && s[4] == '-' && s[7] == '-' && s[10] == 'T' && s[13] == ':' && s[16] == ':' && s[19] == 'Z';
}

class VelmoCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sandbox.StartService()); }
    ServiceSandbox sandbox;
};

TEST_F(VelmoCommand, SendPrintsTheIdentifierAndStatusFollowsIt)
{
    Ran sent = Velmo("send +4917012345 disk  full on db1");
    ASSERT_EQ(sent.code, 0) << sent.out;
    std::string id = sent.out.substr(0, sent.out.find('\n'));
    ASSERT_EQ(id.size(), 38u) << sent.out;
    std::string file = sandbox.Folder("out/sent") + id + ".velmo";
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(file); }));
    Ran status = Velmo("status " + id);
    EXPECT_EQ(status.code, 0) << status.out;
    auto lines = Lines(status.out);
    ASSERT_GE(lines.size(), 2u) << status.out;
    EXPECT_EQ(lines[0], "SENT");
    EXPECT_TRUE(IsIsoUtc(lines[1])) << lines[1];
}

TEST_F(VelmoCommand, TextFromStandardInputLosesOnlyTheLastLineEnd)
{
    Ran sent = Velmo("send +4917012345", "two\nlines\n");
    ASSERT_EQ(sent.code, 0) << sent.out;
    std::string id = sent.out.substr(0, sent.out.find('\n'));
    std::string file = sandbox.Folder("out/sent") + id + ".velmo";
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(file); }));
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char16_t body[] = u"two\nlines";
    std::string expected(reinterpret_cast<const char*>(body), sizeof body);  // with its terminating zero
    EXPECT_NE(bytes.find(expected), std::string::npos);
}

TEST_F(VelmoCommand, ExitCodesForUnknownMalformedAndUsage)
{
    struct Case {
        std::string args;
        int code;
        std::string first;
    } cases[] = {
        {"status {00000000-0000-0000-0000-000000000001}", 3, "NOT_FOUND"},
        {"status no-braces", 1, "velmo: 'no-braces' is not a message id"},
        {"status", 2, "usage: velmo status"},
        {"send", 2, "usage: velmo send"},
        {"send --host", 2, "usage: velmo send"},
        {"send --expire", 2, "velmo send: --expire takes a period"},
        {"send --expire soon +4917 x", 2, "velmo send: --expire takes a period"},
        {"--help", 0, "usage: velmo send"},
    };
    for (const auto& c : cases) {
        Ran r = Velmo(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.rfind(c.first, 0), 0u) << c.args << "\n" << r.out;
        if (c.code == 3) {
            EXPECT_EQ(r.out, "NOT_FOUND\n");
        }
    }
}

TEST(VelmoWithoutService, ReportsThatTheServiceCannotBeReached)
{
    ServiceSandbox sandbox;
    // No service runs, and the activation file is gone: nothing can start it.
    std::filesystem::remove(sandbox.dir() + "/usr/share/dbus-1/system-services/org.norvane.Velmo.service");
    Ran r = Velmo("send +4917 text");
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_EQ(r.out.rfind("velmo: cannot reach the Velmo service: ", 0), 0u) << r.out;
}

}  // namespace
