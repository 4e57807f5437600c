// velmosvc with loopback devices where the queue meets a fault of its
// surroundings: a second service on the same root, a message file whose name
// is not its id, a device that retries without end, rules and a default that
// name missing devices, a received message that cannot be saved, and the
// choice among several devices.
#include "service/EventCapture.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "messagefile/MessageRecord.h"

#include <fstream>
#include <map>
#include <set>

using velmo::Bstr;
using velmo::messagefile::MessageRecord;

namespace {

// A message file saved into a folder under the name given.
GUID Put(const ServiceRoot& root, const std::string& folder, const std::u16string& to, const std::u16string& body,
         const std::string& name = "")
{
    auto* r = new MessageRecord();
    r->Initialise();
    r->To = Bstr(to);
    r->Body = Bstr(body);
    GUID id = r->Id;
    std::string file = name.empty() ? velmo::Utf16ToUtf8(r->FileName()) : name;
    EXPECT_EQ(r->SaveToFile(velmo::Utf8ToUtf16(root.folderPath(folder) + file)), S_OK);
    r->Release();
    return id;
}

MessageRecord* Read(const ServiceRoot& root, const std::string& folder, const std::string& name)
{
    auto* r = new MessageRecord();
    EXPECT_EQ(r->LoadFromFile(velmo::Utf8ToUtf16(root.folderPath(folder) + name)), S_OK) << name;
    return r;
}

// The lines of a loopback log: id, recipient, body, result.
std::vector<std::vector<std::string>> LogLines(const std::string& path)
{
    std::vector<std::vector<std::string>> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        lines.push_back(fields);
    }
    return lines;
}

void Stop(Program& service)
{
    ASSERT_TRUE(service.WaitUntilBlocks(SIGTERM));
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0) << service.Err();
}

TEST(OneServicePerRoot, TheSecondStopsWithoutTouchingTheQueue)
{
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    root.WriteConfig(Loopback(1, Param("log", log)));
    Program first({"/DEBUG"}, Divisor(1000));
    ASSERT_TRUE(first.WaitUntilBlocks(SIGTERM));
    ASSERT_TRUE(WaitUntil([&] { return first.Err().find("Service started.") != std::string::npos; }));
    for (int i = 0; i < 5; ++i)
        Put(root, "pickup", u"+4917", u"only once " + velmo::Utf8ToUtf16(std::to_string(i)));
    Program second({"/DEBUG"}, Divisor(1000));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(second.Err(),
              "velmosvc: error: Another velmosvc (pid " + std::to_string(first.pid()) + ") serves the root folder " +
                  root.folderPath("") +
                  ": this one stops without touching the queue.\nvelmosvc: information: service is stopped.\n");
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 5; })) << first.Err();
    Stop(first);
    EXPECT_EQ(LogLines(log).size(), 5u);  // nothing went out twice
    // The lock goes with the service: the next one starts.
    Program third({"/DEBUG"}, Divisor(1000));
    ASSERT_TRUE(WaitUntil([&] { return third.Err().find("Service started.") != std::string::npos; })) << third.Err();
    Stop(third);
}

TEST(StoredMessages, AFileWhoseNameIsNotItsIdIsSentOnceUnderItsName)
{
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    root.WriteConfig(Loopback(1, Param("log", log)));
    GUID inside = Put(root, "out", u"+4917", u"copied in by hand", "{0A0A0A0A-0000-4000-8000-00000000000A}.velmo");
    for (int run = 0; run < 2; ++run) {
        Program service({"/DEBUG"}, Divisor(1000));
        ASSERT_TRUE(WaitUntil([&] { return root.Files("out").empty() && root.Files("out/sent").size() == 1; }))
            << service.Err();
        Stop(service);
        if (run == 0) {
            EXPECT_NE(service.Err().find("holds the id " + velmo::GuidToUtf8(inside) +
                                         ": it is taken as the message its name gives"),
                      std::string::npos)
                << service.Err();
        }
    }
    EXPECT_EQ(root.Files("out/sent"), std::vector<std::string>{"{0A0A0A0A-0000-4000-8000-00000000000A}.velmo"});
    MessageRecord* sent = Read(root, "out/sent", "{0A0A0A0A-0000-4000-8000-00000000000A}.velmo");
    EXPECT_EQ(velmo::GuidToUtf8(sent->Id), "{0A0A0A0A-0000-4000-8000-00000000000A}");
    sent->Release();
    EXPECT_EQ(LogLines(log).size(), 1u);
}

TEST(Retries, ADeviceThatRetriesWithoutEndIsPacedAndItsStatusTextBounded)
{
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    std::string longText(500, 'r');
    root.WriteConfig(Loopback(1, Param("result", "retry") + Param("statustext", longText) + Param("log", log)),
                     "<rules/>", 0, 0);  // no retry maximum
    Put(root, "out", u"+4917", u"retried for ever");
    Program service({"/DEBUG"}, Divisor(10));  // a retry waits 100 ms
    ASSERT_TRUE(WaitUntil([&] { return LogLines(log).size() >= 12; })) << service.Err();
    auto start = std::chrono::steady_clock::now();
    std::size_t before = LogLines(log).size();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::size_t perSecond = LogLines(log).size() - before;
    Stop(service);
    EXPECT_LE(perSecond, 11u);  // not a tight loop: one hand-out per pause
    EXPECT_GE(perSecond, 5u);
    ASSERT_EQ(root.Files("out").size(), 1u);
    MessageRecord* waiting = Read(root, "out", root.Files("out")[0]);
    std::u16string status = waiting->StatusText.str();
    EXPECT_LE(status.size(), 4096u);
    EXPECT_TRUE(status.starts_with(u"[earlier status text cut]")) << velmo::Utf16ToUtf8(status.substr(0, 40));
    EXPECT_GE(waiting->RetryCount, 12);
    waiting->Release();
    EXPECT_LT(std::filesystem::file_size(root.folderPath("out") + root.Files("out")[0]), 8400u);
}

TEST(Rules, RulesAndADefaultNamingMissingDevicesAreSkippedWithWarnings)
{
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    root.WriteConfig(
        Loopback(1, Param("log", log)) +
            "<device status='0' id='2' name='Off' clsid='{A12F36AA-5B02-4D44-AF51-8B3E6B864F17}'/>",
        "<rules def_device_id='7'><rule match='111' device_id='2'/><rule match='222' device_id='9'/></rules>");
    Put(root, "pickup", u"111", u"to the disabled device's rule");
    Put(root, "pickup", u"222", u"to the mistyped rule");
    Put(root, "pickup", u"+4917", u"to the default");
    Program service({"/DEBUG"}, Divisor(1000));
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 3; })) << service.Err();
    Stop(service);
    std::string err = service.Err();
    for (const char* expected :
         {"velmosvc: warning: config.xml: the rule [111] names device 2, which is not configured or not enabled: the "
          "rule is skipped.\n",
          "velmosvc: warning: config.xml: the rule [222] names device 9, which is not configured or not enabled: the "
          "rule is skipped.\n",
          "velmosvc: warning: config.xml: the default device 7 is not configured or not enabled: device 1 is the "
          "default.\n"})
        EXPECT_NE(err.find(expected), std::string::npos) << err;
    EXPECT_EQ(err.find("Service terminates"), std::string::npos) << err;
    EXPECT_EQ(LogLines(log).size(), 3u);
}

TEST(Received, AMessageThatCannotBeSavedIsLoggedAndRefused)
{
    ServiceRoot root;
    std::string log = root.path() + "/sent.log";
    root.WriteConfig(Loopback(1, Param("echo", "true") + Param("log", log)));
    std::filesystem::remove_all(root.folderPath("in"));
    std::ofstream(root.path() + "/var/lib/velmo/in") << "in/ is a file here: nothing can be saved in it";
    Program service({"/DEBUG"}, Divisor(1000));
    Put(root, "pickup", u"+4917", u"comes back as a received message");
    ASSERT_TRUE(WaitUntil([&] {
        return service.Err().find("A received message could not be stored") != std::string::npos;
    })) << service.Err();
    Stop(service);
    EXPECT_NE(service.Err().find("velmosvc: error: Failed saving velmo file: [" + root.path() + "/var/lib/velmo/in/"),
              std::string::npos)
        << service.Err();
    EXPECT_EQ(root.Files("out/sent").size(), 1u);
}

// Four devices, each 200 ms a message: who gets what.
std::map<std::string, int> Split(const std::string& choose, int messages)
{
    ServiceRoot root;
    std::string devices;
    for (int id = 1; id <= 4; ++id)
        devices +=
            Loopback(id, Param("delay", "200") + Param("log", root.path() + "/dev" + std::to_string(id) + ".log"));
    root.WriteConfig(devices, "<rules" + (choose.empty() ? std::string() : " choose='" + choose + "'") +
                                  "><rule match='.' device_id='1'/><rule match='.' device_id='2'/>"
                                  "<rule match='.' device_id='3'/><rule match='.' device_id='4'/></rules>");
    std::map<std::string, int> split;
    for (int i = 0; i < messages; ++i)
        Put(root, "out", u"+4917", u"m" + velmo::Utf8ToUtf16(std::to_string(i)));
    Program service({"/DEBUG"}, Divisor(1000));
    EXPECT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == static_cast<std::size_t>(messages); }))
        << service.Err();
    Stop(service);
    for (int id = 1; id <= 4; ++id)
        for (auto& line : LogLines(root.path() + "/dev" + std::to_string(id) + ".log"))
            split[line[2]] = id;
    return split;
}

TEST(Routing, FewestWaitingSpreadsTheBacklogEvenly)
{
    std::map<std::string, int> split = Split("fewest_waiting", 16);
    std::map<int, int> perDevice;
    for (auto& [body, device] : split)
        ++perDevice[device];
    ASSERT_EQ(perDevice.size(), 4u);
    for (auto& [device, count] : perDevice)
        EXPECT_EQ(count, 4) << device;
}

TEST(Routing, TheRandomChoiceIsNotTheSameAfterEveryRestart)
{
    // Seeded before anything is dispatched: two starts on the same backlog
    // split it differently (the same split twice: 1 in 4^16).
    std::map<std::string, int> first = Split("", 16), second = Split("random", 16);
    ASSERT_EQ(first.size(), 16u);
    ASSERT_EQ(second.size(), 16u);
    EXPECT_NE(first, second);
}

}  // namespace
