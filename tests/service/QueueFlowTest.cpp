// Messages through a running velmosvc with loopback devices: the pickup
// folder, retries, bad files, stored messages, and crash safety under
// SIGKILL at random moments.
#include "service/EventCapture.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "messagefile/MessageRecord.h"

#include <map>
#include <random>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

// Test-only: the 30 s pickup scan becomes 30 ms.
const std::vector<std::pair<std::string, std::string>> kFast = {{"VELMO_TEST_TIME_DIVISOR", "1000"}};

MessageRecord* Read(const std::string& path)
{
    auto* r = new MessageRecord();
    if (FAILED(r->LoadFromFile(velmo::Utf8ToUtf16(path)))) {
        r->Release();
        return nullptr;
    }
    return r;
}

// Drops a message into pickup/ as producers should: written under another
// name, then renamed in.
void Drop(const ServiceRoot& root, const std::u16string& to, const std::u16string& body, const std::string& name)
{
    auto* r = new MessageRecord();
    r->Initialise();
    r->To = Bstr(to);
    r->Body = Bstr(body);
    std::string tmp = root.path() + "/" + name + ".tmp";
    ASSERT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(tmp)), S_OK);
    std::filesystem::rename(tmp, root.folderPath("pickup") + name);
    r->Release();
}

TEST(QueueFlow, PickupRetriesBadFilesAndStoredMessages)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1) + Loopback(2, Param("result", "retry")),
                     "<rules><r match='999' device_id='2' continue='false'/></rules>", 0, 2);
    for (int i = 0; i < 2; ++i) {
        auto* stored = new MessageRecord();
        stored->Initialise();
        stored->To = Bstr(u"+4930");
        ASSERT_EQ(stored->SaveToFile(root.root() + u"out/" + stored->FileName()), S_OK);
        stored->Release();
    }
    std::ofstream(root.folderPath("pickup") + "broken.velmo") << "not a message";
    Drop(root, u"+4912", u"one", "a.velmo");
    Drop(root, u"+4913", u"two", "b.velmo");
    Drop(root, u"999 1", u"three", "c.velmo");

    Program service({"/DEBUG"}, kFast);
    ASSERT_TRUE(WaitUntil([&] {
        return root.Files("out/sent").size() == 4 && root.Files("out/failed").size() == 1 && root.Files("out").empty();
    })) << service.Err();
    EXPECT_EQ(root.Files("bad"), std::vector<std::string>{"broken.velmo"});
    EXPECT_TRUE(root.Files("pickup").empty());

    MessageRecord* failed = Read(root.folderPath("out/failed") + root.Files("out/failed")[0]);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->Status, FAILED);
    EXPECT_EQ(failed->RetryCount, 3);
    EXPECT_EQ(failed->Body.str(), u"three");
    EXPECT_TRUE(failed->StatusText.str().ends_with(u"Loopback retry\r\nAttempted too many retries"));
    failed->Release();
    for (const std::string& name : root.Files("out/sent")) {
        MessageRecord* sent = Read(root.folderPath("out/sent") + name);
        ASSERT_NE(sent, nullptr);
        EXPECT_EQ(sent->Status, SENT);
        EXPECT_NE(sent->Completed.wYear, 0);
        sent->Release();
    }
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0);
    std::string err = service.Err();
    EXPECT_NE(err.find("velmosvc: information: Service started. Dispatcher loaded 2 previously stored messages in the "
                       "queue folder.\n"),
              std::string::npos)
        << err;
    EXPECT_NE(
        err.find("velmosvc: error: Failed loading velmo file: [" + root.folderPath("pickup") + "broken.velmo].\n"),
        std::string::npos)
        << err;
    EXPECT_TRUE(err.ends_with("velmosvc: information: service is stopped.\n")) << err;
}

// The bodies of the .velmo files in a folder.
std::multiset<std::u16string> Bodies(const ServiceRoot& root, const std::string& folder)
{
    std::multiset<std::u16string> bodies;
    for (const std::string& name : root.Files(folder)) {
        MessageRecord* r = Read(root.folderPath(folder) + name);
        if (r) {
            bodies.insert(r->Body.str());
            r->Release();
        }
    }
    return bodies;
}

TEST(QueueFlow, KilledAtRandomMomentsLosesAndDoublesNothing)
{
    constexpr int kMessages = 1000;
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    root.WriteConfig(Loopback(1, Param("result", "ok,ok,retry,ok,failed") + Param("log", log)), "<rules/>", 0, 1);
    for (int i = 0; i < kMessages; ++i)
        Drop(root, u"+49" + velmo::Utf8ToUtf16(std::to_string(i)), u"msg-" + velmo::Utf8ToUtf16(std::to_string(i)),
             "m" + std::to_string(i) + ".velmo");

    auto finished = [&] {
        return root.Files("pickup").empty() && root.Files("out").empty() &&
               root.Files("out/sent").size() + root.Files("out/failed").size() >= kMessages;
    };
    std::mt19937 random(20261208);
    int kills = 0;
    for (int round = 0; round < 60 && !finished(); ++round) {
        Program service({"/DEBUG"}, kFast);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(10, 120)(random)));
        kill(service.pid(), SIGKILL);
        service.Wait();
        ++kills;
    }
    {
        Program service({"/DEBUG"}, kFast);
        ASSERT_TRUE(WaitUntil(finished, std::chrono::seconds(120))) << service.Err();
        ASSERT_TRUE(service.WaitUntilBlocks(SIGTERM));
        kill(service.pid(), SIGTERM);
        EXPECT_EQ(service.Wait(), 0);
    }

    std::multiset<std::u16string> sent = Bodies(root, "out/sent"), failed = Bodies(root, "out/failed");
    for (int i = 0; i < kMessages; ++i) {
        std::u16string body = u"msg-" + velmo::Utf8ToUtf16(std::to_string(i));
        EXPECT_EQ(sent.count(body) + failed.count(body), 1u) << "message " << i;
    }
    EXPECT_EQ(sent.size() + failed.size(), static_cast<std::size_t>(kMessages));
    EXPECT_TRUE(root.Files("bad").empty());

    // Hand-outs beyond the first attempt and the recorded retries: sends
    // repeated because a kill came between a device's send and the
    // service's record of its outcome.
    std::map<std::string, int> handedOut;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.size() > 38)
            ++handedOut[line.substr(0, 38)];
    int duplicated = 0;
    for (const char* folder : {"out/sent", "out/failed"}) {
        for (const std::string& name : root.Files(folder)) {
            MessageRecord* r = Read(root.folderPath(folder) + name);
            ASSERT_NE(r, nullptr);
            int extra = handedOut[velmo::GuidToUtf8(r->Id)] - (r->RetryCount + 1);
            duplicated += extra > 0 ? extra : 0;
            r->Release();
        }
    }
    RecordProperty("kills", kills);
    RecordProperty("duplicated_sends", duplicated);
    std::printf("crash test: %d kills, %d duplicated sends of %d messages\n", kills, duplicated, kMessages);
}

}  // namespace
