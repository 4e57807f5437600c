// velmosvc with the GSM device on modemsim, in a sandbox made by
// scripts/sandbox: messages out through AT+CMGS and in through +CMT and
// +CMTI, modem errors, and a device restart after a modem that fell silent.
#include "service/EventCapture.h"
#include "service/Program.h"
#include "platform/Text.h"
#include "service/store/MessageRecord.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using velmo::Bstr;
using velmo::store::MessageRecord;

namespace {

// Test-only: the fixed waits a hundred times shorter (60 s modem replies: 600 ms).
const std::vector<std::pair<std::string, std::string>> kFast = {{"VELMO_TEST_TIME_DIVISOR", "100"}};

class Sandbox {
public:
    explicit Sandbox(const std::vector<std::string>& modem, const std::string& cnmi = "1,2")
    {
        char tmpl[] = "/tmp/velmo-gsm-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("VELMO_SYSROOT", dir_.c_str(), 1);
        std::string cmd = "VELMO_BUILD_DIR='" + std::string(VELMO_BUILD_DIR) + "' '" + VELMO_SANDBOX + "' '" + dir_ +
                          "' --device gsm --retries 3 --cnmi '" + cnmi + "' >/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        transcript_ = dir_ + "/transcript";
        control_ = dir_ + "/control";
        std::string sim = std::string(VELMO_MODEMSIM) + " --link=" + dir_ + "/dev/ttyS0 --transcript=" + transcript_ +
                          " --control=" + control_;
        for (auto& o : modem)
            sim += " " + o;
        simPid_ = fork();
        if (simPid_ == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + sim + " >/dev/null").c_str(), nullptr);
            _exit(127);
        }
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(control_); }));
    }
    ~Sandbox()
    {
        kill(simPid_, SIGTERM);
        waitpid(simPid_, nullptr, 0);
        unsetenv("VELMO_SYSROOT");
        std::filesystem::remove_all(dir_);
    }
    std::string Folder(const std::string& f) const { return dir_ + "/var/lib/velmo/" + f + "/"; }
    std::vector<std::string> Files(const std::string& f) const
    {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(Folder(f)))
            if (e.is_regular_file() && e.path().extension() == ".velmo")
                out.push_back(e.path().string());
        return out;
    }
    int Count(const std::string& line) const
    {
        std::ifstream in(transcript_);
        int n = 0;
        for (std::string l; std::getline(in, l);)
            n += l == line;
        return n;
    }
    void Control(const std::string& line) const { std::ofstream(control_) << line << "\n"; }
    void Drop(const std::u16string& to, const std::u16string& body) const
    {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(to);
        r->Body = Bstr(body);
        std::string tmp = dir_ + "/drop.tmp";
        EXPECT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(tmp)), S_OK);
        std::filesystem::rename(tmp, Folder("pickup") + velmo::Utf16ToUtf8(r->FileName()));
        r->Release();
    }

private:
    std::string dir_, transcript_, control_;
    pid_t simPid_ = -1;
};

MessageRecord* Read(const std::string& path)
{
    auto* r = new MessageRecord();
    EXPECT_EQ(r->LoadFromFile(velmo::Utf8ToUtf16(path)), S_OK) << path;
    return r;
}

void Stop(Program& service)
{
    ASSERT_TRUE(service.WaitUntilBlocks(SIGTERM));
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0) << service.Err();
}

TEST(GsmFlow, MessagesLeaveThroughTheModemAndErrorsAreRecorded)
{
    Sandbox box({"--cmgs=ok,cms:38,cms:42,ok"});
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", u"Disk full on db1");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; })) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234567 Disk full on db1"), 1);

    box.Drop(u"+491711234568", u"refused by the network");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/failed").size() == 1; })) << service.Err();
    MessageRecord* failed = Read(box.Files("out/failed")[0]);
    EXPECT_EQ(failed->Status, FAILED);
    EXPECT_EQ(failed->StatusText.str(), u"+CMS ERROR: 38\r\n");
    failed->Release();

    box.Drop(u"+491711234569", u"retried once");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 2; })) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234569 retried once"), 2);
    for (const std::string& path : box.Files("out/sent")) {
        MessageRecord* sent = Read(path);
        EXPECT_EQ(sent->Status, SENT);
        if (sent->Body.str() == u"retried once") {
            EXPECT_EQ(sent->RetryCount, 1);
            EXPECT_EQ(sent->StatusText.str(), u"+CMS ERROR: 42\r\n");
        }
        sent->Release();
    }
    Stop(service);
}

struct InboundCase {
    const char* name;
    std::string cnmi;
};

void PrintTo(const InboundCase& c, std::ostream* os) { *os << c.name; }

class GsmInbound : public ::testing::TestWithParam<InboundCase> {};

TEST_P(GsmInbound, ReceivedMessageIsStoredInIn)
{
    Sandbox box({}, GetParam().cnmi);
    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] { return box.Count("< ATS0=0") == 1; })) << service.Err();
    box.Control("deliver +4915112345678 Is db1 back?");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("in").size() == 1; })) << service.Err();
    MessageRecord* in = Read(box.Files("in")[0]);
    EXPECT_EQ(in->Status, RECEIVED);
    EXPECT_EQ(in->From.str(), u"+4915112345678");
    EXPECT_EQ(in->Body.str(), u"Is db1 back?");
    EXPECT_TRUE(in->To.IsNull());
    EXPECT_NE(in->Received.wYear, 0);
    in->Release();
    EXPECT_EQ(box.Count("< AT+CMGR=1"), GetParam().cnmi == "1,1" ? 1 : 0);
    EXPECT_EQ(box.Count("< AT+CMGD=1"), GetParam().cnmi == "1,1" ? 1 : 0);
    Stop(service);
}

INSTANTIATE_TEST_SUITE_P(Indications, GsmInbound,
                         ::testing::Values(InboundCase{"DirectWithCmt", "1,2"}, InboundCase{"StoredWithCmti", "1,1"}));

TEST(GsmFlow, SilentModemEndsRunAndTheRestartedDeviceSendsTheMessage)
{
    Sandbox box({"--cmgs=silent,ok"});
    Program service({"/DEBUG"}, kFast);
    box.Drop(u"+491711234567", u"sent on the second run");
    ASSERT_TRUE(WaitUntil([&] { return box.Files("out/sent").size() == 1; }, std::chrono::seconds(30))) << service.Err();
    EXPECT_EQ(box.Count("SUBMIT +491711234567 sent on the second run"), 2);
    EXPECT_EQ(box.Count("< ATE0"), 2);  // opened again after the restart
    Stop(service);
    std::string err = service.Err();
    EXPECT_NE(err.find("velmosvc: error: Modem::Run failed: Unexpected response [timedout reading comport] to tpdu ["),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("velmosvc: warning: Device [Modem] has terminated unexpectedly. Attempting restart.\n"),
              std::string::npos)
        << err;
}

} // namespace
