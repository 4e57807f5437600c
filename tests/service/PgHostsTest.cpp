// Two velmosvc hosts, each with its own root and devices, sharing one
// queue in a throwaway PostgreSQL cluster: messages queued on one host are
// sent by the devices of both, each once; a host killed with messages in
// hand leaves them to the other once its leases run out; a host whose
// rules leave a recipient to others never sends it.
#include "service/EventCapture.h"
#include "service/WithPgCluster.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "messagefile/MessageRecord.h"

#include <chrono>
#include <map>
#include <memory>
#include <sstream>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

struct Host {
    std::string name;
    std::unique_ptr<ServiceRoot> root;
    std::unique_ptr<Program> service;

    // The lines of a Loopback device's log: one per message handed out.
    std::vector<std::string> Handed(const std::string& device) const
    {
        std::ifstream in(root->path() + "/" + device + ".log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find('\t')));
        return lines;
    }
};

class PgHosts : public WithPgCluster {
protected:
    // A host whose devices are Loopbacks named by devices (name -> params),
    // with `rules` as its rules element and lease as its lease.
    Host MakeHost(const std::string& name, const std::map<std::string, std::string>& devices,
                  const std::string& rules = "<rules/>", const std::string& lease = "2m")
    {
        Host host{name, std::make_unique<ServiceRoot>(), nullptr};
        std::string entries;
        int id = 1;
        for (const auto& [device, params] : devices)
            entries += Loopback(id++, params + Param("log", host.root->path() + "/" + device + ".log"), device);
        std::ofstream(host.root->folderPath("") + "config.xml")
            << "<velmo><configuration><queue max='0' store='postgresql' connection='" << cluster_.ConnInfo()
            << "' host='" << name << "' lease='" << lease << "'/><retries max='2'/></configuration><devices>" << entries
            << "</devices>" << rules << "<eventhandlers/></velmo>";
        return host;
    }
    void Start(Host& host)
    {
        host.service =
            std::make_unique<Program>(std::vector<std::string>{"/DEBUG"},
                                      std::vector<std::pair<std::string, std::string>>{
                                          {"VELMO_SYSROOT", host.root->path()}, {"VELMO_TEST_TIME_DIVISOR", "1000"}});
    }
    void Drop(const Host& host, const std::string& to, int count)
    {
        for (int i = 0; i < count; ++i) {
            MessageRecord* r = new MessageRecord();
            r->Initialise();
            r->To = Bstr(velmo::Utf8ToUtf16(to));
            r->Body = Bstr(velmo::Utf8ToUtf16(to + " #" + std::to_string(i)));
            std::string name = velmo::GuidToUtf8(r->Id) + ".velmo";
            ASSERT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(host.root->path() + "/" + name)), S_OK);
            std::filesystem::rename(host.root->path() + "/" + name, host.root->folderPath("pickup") + name);
            r->Release();
        }
    }
    int Count(const std::string& where)
    {
        std::string n = Sql("SELECT count(*) FROM velmo_messages WHERE " + where);
        return n.empty() ? -1 : std::stoi(n);
    }
};

TEST_F(PgHosts, MessagesQueuedOnOneHostAreSentByTheDevicesOfBothEachOnce)
{
    Host alpha = MakeHost("alpha", {{"A1", Param("delay", "100")}, {"A2", Param("delay", "100")}});
    Host beta = MakeHost("beta", {{"B1", Param("delay", "100")}, {"B2", Param("delay", "100")}});
    Start(alpha);
    Start(beta);
    Drop(alpha, "+4912", 60);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'sent'") == 60; }, std::chrono::seconds(60)))
        << Count("folder = 'sent'") << alpha.service->Err() << beta.service->Err();
    std::multiset<std::string> handed;
    for (const Host* h : {&alpha, &beta})
        for (const char* device : {"A1", "A2", "B1", "B2"})
            for (const std::string& id : h->Handed(device))
                handed.insert(id);
    EXPECT_EQ(handed.size(), 60u) << "every message handed to a device once";
    EXPECT_EQ(std::set<std::string>(handed.begin(), handed.end()).size(), 60u);
    int byBeta = Count("folder = 'sent' AND device IN ('B1', 'B2')");
    EXPECT_GE(byBeta, 15) << "beta's devices took their share of alpha's queue";
    EXPECT_EQ(Count("host = 'alpha' AND folder = 'sent'"), 60) << "the host that queued them";
    EXPECT_EQ(Count("lease_host IS NOT NULL"), 0);
}

TEST_F(PgHosts, AKilledHostsMessagesAreTakenOverOnceItsLeasesRunOut)
{
    Host alpha = MakeHost("alpha", {{"A1", Param("delay", "60000")}}, "<rules/>", "10s");
    Host beta = MakeHost("beta", {{"B1", ""}}, "<rules/>", "10s");
    Start(alpha);
    Drop(alpha, "+4912", 6);
    // alpha's device holds two (one in hand, one ahead); the rest wait for it.
    ASSERT_TRUE(WaitUntil([&] { return Count("true") == 6 && Count("lease_host = 'alpha'") == 2; }))
        << alpha.service->Err();
    kill(alpha.service->pid(), SIGKILL);
    alpha.service->Wait();
    auto killed = std::chrono::steady_clock::now();
    Start(beta);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'sent'") == 6; }, std::chrono::seconds(40)))
        << Sql("SELECT folder, lease_host, lease_until, device FROM velmo_messages") << beta.service->Err();
    auto took = std::chrono::steady_clock::now() - killed;
    EXPECT_LT(took, std::chrono::seconds(25)) << "within the lease and an idle check";
    EXPECT_EQ(Count("device = 'B1'"), 6);
    EXPECT_EQ(beta.Handed("B1").size(), 6u);
    EXPECT_LE(alpha.Handed("A1").size(), 2u) << "at most the messages the dead host held may go twice";
}

TEST_F(PgHosts, AHostLeavesWhatItsRulesDoNotMatchToTheHostThatCanSendIt)
{
    Host alpha = MakeHost("alpha", {{"A1", Param("delay", "20")}});
    Host beta = MakeHost("beta", {{"B1", Param("delay", "20")}},
                         "<rules unmatched='leave'><r match='\\+49' device_id='1'/></rules>");
    Start(beta);
    Drop(beta, "+4912", 5);
    Drop(beta, "+3312", 5);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'sent'") == 5; })) << beta.service->Err();
    EXPECT_EQ(Count("folder = 'queued' AND recipient = '+3312' AND lease_host IS NULL"), 5)
        << "left in the queue, held by nobody";
    Start(alpha);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'sent'") == 10; })) << alpha.service->Err();
    EXPECT_EQ(Count("recipient = '+3312' AND device = 'A1'"), 5);
    EXPECT_EQ(Count("recipient = '+4912' AND device = 'B1'"), 5);
}

TEST_F(PgHosts, TheQueueMaximumCountsTheMessagesOfEveryHost)
{
    // Devices that never report: what is queued stays queued.
    Host alpha = MakeHost("alpha", {{"A1", Param("result", "none")}});
    Host beta = MakeHost("beta", {{"B1", Param("result", "none")}});
    for (Host* h : {&alpha, &beta}) {
        std::string path = h->root->folderPath("") + "config.xml";
        std::ifstream in(path);
        std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        xml.replace(xml.find("max='0'"), 7, "max='3'");
        std::ofstream(path, std::ios::trunc) << xml;
    }
    Start(alpha);
    Drop(alpha, "+4912", 2);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'queued'") == 2; })) << alpha.service->Err();
    Start(beta);
    Drop(beta, "+4913", 2);
    ASSERT_TRUE(WaitUntil([&] { return Count("folder = 'queued'") == 3; })) << beta.service->Err();
    ASSERT_TRUE(WaitUntil([&] {
        return beta.service->Err().find("The queue is full: files in pickup/ wait until it has room") !=
               std::string::npos;
    })) << beta.service->Err();
    EXPECT_EQ(beta.root->Files("pickup").size(), 1u) << "the fourth waits in beta's pickup/";
    EXPECT_EQ(Count("true"), 3);
}

}  // namespace
