// What other programs (or an attacker with write access to pickup/) can
// drop there: links in and out of the root, FIFOs, devices, folders, files
// that break the rules of a new message, names with line ends. None may
// block the service, be followed out of the root or be sent.
#include "platform/File.h"
#include "platform/MainLoop.h"
#include "platform/Text.h"
#include "service/EventCapture.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "service/host/ServiceModule.h"

#include <future>
#include <sys/stat.h>

using velmo::Bstr;
using velmo::host::ServiceModule;
using velmo::messagefile::MessageRecord;

namespace {

std::vector<std::string> ListAll(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class PickupHostile : public ::testing::Test {
protected:
    PickupHostile()
    {
        module.mainThreadId = GetCurrentThreadId();
        while (velmo::RunMainLoop(0) != velmo::LoopEvent::TimedOut) {
        }
    }
    ~PickupHostile() override { module.dispatcher.Stop(); }
    void Start(const std::string& params = "")
    {
        ASSERT_EQ(module.dispatcher.Devices().Add(1, u"Loop1", kLoopback, velmo::Utf8ToUtf16(Loopback(1, params))),
                  S_OK);
        module.dispatcher.Devices().SetDefaultDevice(1);
        module.dispatcher.Start();
    }
    void Drop(const std::string& path, const std::u16string& to, const std::u16string& body)
    {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(to);
        r->Body = Bstr(body);
        ASSERT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(path)), S_OK);
        r->Release();
    }
    // Runs one scan on another thread: a scan that blocks fails the test
    // instead of hanging it.
    bool ScanWithin(std::chrono::seconds deadline)
    {
        auto scan = std::async(std::launch::async, [this] { module.dispatcher.ScanPickup(); });
        return scan.wait_for(deadline) == std::future_status::ready;
    }
    ServiceRoot root;
    ServiceModule module{root.root()};
};

TEST_F(PickupHostile, WhatIsNotAPlainMessageGoesToBadAndNothingIsSent)
{
    Start();
    const std::string pickup = root.folderPath("pickup"), outside = root.path() + "/crafted.velmo";
    Drop(outside, u"+4917", u"from outside the root");
    std::filesystem::create_symlink(outside, pickup + "outside.velmo");
    std::filesystem::create_symlink("/dev/zero", pickup + "zero.velmo");
    std::filesystem::create_symlink(pickup + "gone", pickup + "dangling.velmo");
    ASSERT_EQ(mkfifo((pickup + "fifo.velmo").c_str(), 0600), 0);
    std::filesystem::create_directory(pickup + "folder.velmo");
    std::ofstream(pickup + "line\nend.velmo") << "damaged";
    Drop(pickup + "letters.velmo", u"alerts", u"to a name");
    Drop(pickup + "newline.velmo", u"+49\n171", u"to a forged line");
    Drop(pickup + "nul.velmo", u"+4917", std::u16string(u"cut\0here", 8));
    Drop(pickup + "long.velmo", u"+4917", std::u16string(50000, u'x'));
    Drop(pickup + "nobody.velmo", u"", u"to nobody");
    Drop(pickup + "good.velmo", u"+49 (171) 555-01", u"the one good file");

    EventCapture events;
    ASSERT_TRUE(ScanWithin(std::chrono::seconds(10))) << "the scan blocked";
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 1; }));
    auto* sent = new MessageRecord();
    ASSERT_EQ(sent->LoadFromFile(velmo::Utf8ToUtf16(root.folderPath("out/sent") + root.Files("out/sent")[0])), S_OK);
    EXPECT_EQ(sent->To.str(), u"+4917155501");
    EXPECT_EQ(sent->Body.str(), u"the one good file");
    sent->Release();

    std::set<std::string> bad;
    for (const auto& e : std::filesystem::directory_iterator(root.folderPath("bad")))
        bad.insert(e.path().filename().string());
    EXPECT_EQ(bad,
              (std::set<std::string>{"outside.velmo", "zero.velmo", "dangling.velmo", "fifo.velmo", "line\nend.velmo",
                                     "letters.velmo", "newline.velmo", "nul.velmo", "long.velmo", "nobody.velmo"}));
    // A folder is never read as a file: it stays where it is.
    EXPECT_EQ(ListAll(pickup), std::vector<std::string>{"folder.velmo"});
    EXPECT_TRUE(std::filesystem::exists(outside)) << "the link, not what it names, is moved";
    EXPECT_TRUE(std::filesystem::is_symlink(root.folderPath("bad") + "outside.velmo"));
    for (const char* rule : {"is not a phone number", "The text holds a NUL character",
                             "The text is longer than 40000 characters", "Must specify To address"})
        EXPECT_EQ(events.Count(rule), rule[0] == 'i' ? 2 : 1) << rule << "\n" << events.Text();

    // Listing bad/ reads what stands there, the FIFO too, without waiting.
    const velmo::messagefile::FolderName* folder = velmo::messagefile::FindFolder("bad");
    ASSERT_NE(folder, nullptr);
    auto listing = std::async(std::launch::async, [&] { return module.store.List(folder->folder, 100, ""); });
    ASSERT_EQ(listing.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "List(bad) blocked";
    auto page = listing.get();
    ASSERT_TRUE(page);
    EXPECT_GE(page->messages.size(), 1u);
}

// While the queue holds its maximum, files wait in pickup/ and are taken
// once it has room; the wait is said once.
TEST_F(PickupHostile, PickupCountsAgainstTheQueueMaximum)
{
    module.dispatcher.queueMax = 1;
    Start(Param("result", "none"));
    GUID held{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(u"held by the device"), &held), S_OK);
    ASSERT_FALSE(module.dispatcher.Accepting());
    Drop(root.folderPath("pickup") + "a.velmo", u"+4918", u"waits");
    Drop(root.folderPath("pickup") + "b.velmo", u"+4919", u"waits too");
    EventCapture events;
    module.dispatcher.ScanPickup();
    module.dispatcher.ScanPickup();
    EXPECT_EQ(root.Files("pickup").size(), 2u);
    EXPECT_EQ(root.Files("out").size(), 1u);
    EXPECT_EQ(events.Count("The queue is full: files in pickup/ wait until it has room"), 1) << events.Text();
}

// A file name with a line end cannot forge a line of the service's log.
TEST(PickupLog, ANameWithALineEndStaysOnItsLine)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1));
    std::ofstream(root.folderPath("pickup") + "x\nvelmosvc: information: Service started.velmo") << "damaged";
    Program service({"/DEBUG"}, Divisor(1000));
    ASSERT_TRUE(WaitUntil([&] { return root.Files("bad").size() == 1; })) << service.Err();
    ASSERT_TRUE(WaitUntil([&] { return service.Err().find("Failed loading") != std::string::npos; }));
    std::string err = service.Err();
    EXPECT_NE(err.find("pickup/x\\nvelmosvc: information: Service started.velmo]"), std::string::npos) << err;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = err.find("\nvelmosvc: information: Service started", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 0u) << err;
}

}  // namespace
