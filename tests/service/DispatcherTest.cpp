// The dispatcher's queue folders, reports, retries, pickup and routing, in
// process with loopback devices.
#include "platform/File.h"
#include "platform/MainLoop.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "service/automation/MessageCenter.h"
#include "service/events/MessageEvents.h"
#include "service/host/ServiceModule.h"

#include <atomic>
#include <map>
#include <thread>

using velmo::Bstr;
using velmo::devices::DeviceHost;
using velmo::host::ServiceModule;
using velmo::messagefile::MessageRecord;

namespace {

// Every file of a folder, whatever its name.
std::vector<std::string> ListAll(const ServiceRoot& root, const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(root.folderPath(folder)))
        names.push_back(e.path().filename().string());
    return names;
}

class DispatcherTest : public ::testing::Test {
protected:
    DispatcherTest()
    {
        module.mainThreadId = GetCurrentThreadId();
        while (velmo::RunMainLoop(0) != velmo::LoopEvent::TimedOut) {
        }
    }
    ~DispatcherTest() override { module.dispatcher.Stop(); }
    void Add(LONG id, const std::string& params = "")
    {
        ASSERT_EQ(module.dispatcher.Devices().Add(id, u"Loop" + velmo::Utf8ToUtf16(std::to_string(id)), kLoopback,
                                                  velmo::Utf8ToUtf16(Loopback(static_cast<int>(id), params))),
                  S_OK);
    }
    MessageRecord* Load(const std::string& folder, const std::string& name)
    {
        auto* r = new MessageRecord();
        EXPECT_EQ(r->LoadFromFile(velmo::Utf8ToUtf16(root.folderPath(folder) + name)), S_OK);
        return r;
    }
    ServiceRoot root;
    ServiceModule module{root.root()};
};

TEST_F(DispatcherTest, SentMessageEndsInSentWithCompletedSet)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(1);
    EXPECT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), nullptr), E_FAIL);  // not started
    EXPECT_TRUE(root.Files("out").empty());
    module.dispatcher.Start();
    GUID id{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"+4912"), Bstr(u"hi"), &id), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return root.Files("out").empty(); }));
    MessageRecord* r = Load("out/sent", velmo::Utf16ToUtf8(velmo::GuidToString(id)) + ".velmo");
    EXPECT_EQ(r->Status, SENT);
    EXPECT_NE(r->Completed.wYear, 0);
    EXPECT_TRUE(r->StatusText.IsNull());
    EXPECT_TRUE(r->From.IsNull());
    EXPECT_EQ(r->To.str(), u"+4912");
    r->Release();

    std::optional<velmo::queue::Found> found = module.store.Find(id);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->folder, velmo::queue::Folder::Sent);
    EXPECT_EQ(found->record->Status, SENT);
    EXPECT_EQ(module.dispatcher.InFlight(), 0);
}

struct RetryCase {
    const char* name;
    const char* results;
    int retryMax;
    int handedOut;
    LONG retryCount;
    const char16_t* statusText;
};

void PrintTo(const RetryCase& c, std::ostream* os) { *os << c.name; }

class RetryTest : public DispatcherTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, MessageEndsInFailedWithItsReports)
{
    const RetryCase& c = GetParam();
    std::string log = root.path() + "/log";
    Add(1, Param("result", c.results) + Param("log", log));
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.retryMax = c.retryMax;
    module.dispatcher.Start();
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), nullptr), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/failed").size() == 1; }));
    MessageRecord* r = Load("out/failed", root.Files("out/failed")[0]);
    EXPECT_EQ(r->Status, FAILED);
    EXPECT_EQ(r->RetryCount, c.retryCount);
    EXPECT_EQ(r->StatusText.str(), c.statusText);
    EXPECT_NE(r->Completed.wYear, 0);
    r->Release();
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    EXPECT_EQ(lines, c.handedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, RetryTest,
    ::testing::Values(
        RetryCase{"RetriesUsedUp", "retry", 2, 4, 3,
                  u"Loopback retryLoopback retryLoopback retryLoopback retry\r\nAttempted too many retries"},
        RetryCase{"FailedAtOnce", "failed", 2, 1, 0, u"Loopback failure"},
        RetryCase{"ResultOutsideTheRange", "5", 2, 1, 0, u"Loopback failure\r\nAttempted too many retries"},
        RetryCase{"RetryThenFailed", "retry,failed", 5, 2, 1, u"Loopback retryLoopback failure"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(DispatcherTest, RetryMaximumZeroRetriesWithoutEnd)
{
    Add(1, Param("result", "retry"));
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.Start();
    GUID id{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), &id), S_OK);
    ASSERT_TRUE(WaitUntil([&] {
        std::optional<velmo::queue::Found> found = module.store.Find(id);
        return found && found->record &&
               found->record->RetryCount > 3;  // each retry after a 1 s pause, and never an end
    }));
    EXPECT_TRUE(root.Files("out/failed").empty());
}

TEST_F(DispatcherTest, QueueMaximumRefusesUntilAReport)
{
    Add(1, Param("fail", "run"));  // its thread ends at once: nothing is taken from its queue
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.queueMax = 2;
    module.dispatcher.Start();
    GUID first{}, second{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"a"), &first), S_OK);
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), &second), S_OK);
    EXPECT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"c"), nullptr), E_FAIL);
    EXPECT_EQ(root.Files("out").size(), 2u);
    module.dispatcher.Devices().ForEach([&](DeviceHost& h) { h.ReportMsgResult(first, 0, SEND_OK, nullptr); });
    EXPECT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"c"), nullptr), S_OK);
    EXPECT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"d"), nullptr), E_FAIL);
}

TEST_F(DispatcherTest, AMessageNoDeviceTakesIsFailedAndTheServiceRunsOn)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(9);  // no such device
    module.dispatcher.queueMax = 1;
    module.dispatcher.Start();
    EventCapture events;
    std::vector<velmo::events::AuditKind> told;  // what --wait and watch hear of it
    velmo::events::SetMessageListener([&](const velmo::events::AuditEntry& e) { told.push_back(e.kind); });
    GUID id{};
    EXPECT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"a"), &id), S_OK);
    velmo::events::SetMessageListener({});
    EXPECT_EQ(told, (std::vector{velmo::events::AuditKind::Queued, velmo::events::AuditKind::Failed}));
    EXPECT_EQ(events.Text(), "velmosvc: error: There is no Device to satisfy the dispatch call for message " +
                                 velmo::GuidToUtf8(id) + ": device 9 is not there, the message is failed.\n");
    EXPECT_EQ(module.dispatcher.InFlight(), 0);
    EXPECT_TRUE(module.dispatcher.Accepting());
    EXPECT_EQ(velmo::RunMainLoop(0), velmo::LoopEvent::TimedOut);  // no quit: one message blocks nothing
    EXPECT_TRUE(root.Files("out").empty());
    ASSERT_EQ(root.Files("out/failed").size(), 1u);
    MessageRecord* failed = Load("out/failed", root.Files("out/failed")[0]);
    EXPECT_EQ(failed->Status, FAILED);
    EXPECT_EQ(failed->StatusText.str(), u"\r\nNo device to send it: device 9 is not there");
    failed->Release();
}

TEST_F(DispatcherTest, StoredMessagesAreDispatchedAndUnreadableOnesMovedToBad)
{
    std::string log = root.path() + "/log";
    Add(1, Param("log", log));
    module.dispatcher.Devices().SetDefaultDevice(1);
    for (int i = 0; i < 2; ++i) {
        auto* r = new MessageRecord();
        r->Initialise();
        r->To = Bstr(u"5");
        ASSERT_EQ(r->SaveToFile(root.root() + u"out/" + r->FileName()), S_OK);
        r->Release();
    }
    std::ofstream(root.folderPath("out") + "{00000000-0000-0000-0000-000000000001}.velmo") << "short";
    // Finished before a crash, its queue copy left behind: not sent again.
    auto* done = new MessageRecord();
    done->Initialise();
    ASSERT_EQ(done->SaveToFile(root.root() + u"out/" + done->FileName()), S_OK);
    done->Status = SENT;
    ASSERT_EQ(done->SaveToFile(root.root() + u"out/sent/" + done->FileName()), S_OK);
    done->Release();

    EventCapture events;
    EXPECT_EQ(module.dispatcher.LoadStoredMessages(), 4);
    EXPECT_EQ(events.Text(), "velmosvc: error: Failed loading velmo file: [" + root.folderPath("out") +
                                 "{00000000-0000-0000-0000-000000000001}.velmo].\n");
    EXPECT_EQ(root.Files("bad"), std::vector<std::string>{"{00000000-0000-0000-0000-000000000001}.velmo"});
    module.dispatcher.Start();
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 3 && root.Files("out").empty(); }));
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    EXPECT_EQ(lines, 2);
}

// More messages stand in out/ at start than one device's queue holds: the
// ones it refuses wait for room and go out as it reports, without a restart.
TEST_F(DispatcherTest, AQueueLongerThanADeviceTakesIsSentWholeWithoutARestart)
{
    constexpr LONG kLimit = 300;
    constexpr int kMessages = kLimit + 100;
    DeviceHost::SetQueueLimit(kLimit);
    struct Restore {
        ~Restore() { DeviceHost::SetQueueLimit(DeviceHost::kQueueLimit); }
    } restore;
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(1);
    auto* r = new MessageRecord();
    for (int i = 0; i < kMessages; ++i) {
        r->Initialise();
        r->To = Bstr(u"+4917" + velmo::Utf8ToUtf16(std::to_string(i)));
        ASSERT_EQ(r->SaveToFile(root.root() + u"out/" + r->FileName()), S_OK);
    }
    r->Release();
    EventCapture events;
    EXPECT_EQ(module.dispatcher.LoadStoredMessages(), kMessages);
    EXPECT_EQ(module.dispatcher.WaitingForRoom(), 100u);
    EXPECT_NE(events.Text().find("A device's queue is full: message {"), std::string::npos) << events.Text();
    module.dispatcher.Start();
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out").empty(); })) << root.Files("out").size() << " still queued";
    EXPECT_EQ(root.Files("out/sent").size(), static_cast<std::size_t>(kMessages));
    EXPECT_EQ(module.dispatcher.WaitingForRoom(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return module.dispatcher.InFlight() == 0; }));
    EXPECT_NE(events.Text().find("The messages that waited for room in a device's queue are all handed to devices"),
              std::string::npos);
}

TEST_F(DispatcherTest, MessageStatusLooksOnlyInTheOutgoingFolders)
{
    auto* center = new velmo::automation::MessageCenter(module, module.store, module);
    auto status = [&](const GUID& id) {
        LONG value = -1;
        EXPECT_EQ(center->QueryMessageStatus(Bstr(velmo::GuidToString(id)).get(), nullptr, nullptr, &value), S_OK);
        return value;
    };
    auto* received = new MessageRecord();
    received->Initialise();
    received->Status = RECEIVED;
    ASSERT_EQ(received->SaveToFile(root.root() + u"in/" + received->FileName()), S_OK);
    std::optional<velmo::queue::Found> found = module.store.Find(received->Id);
    ASSERT_TRUE(found && found->record);
    EXPECT_EQ(found->folder, velmo::queue::Folder::Received);
    EXPECT_EQ(status(received->Id), NOT_FOUND);

    GUID broken = velmo::MakeGuid("{00000000-0000-0000-0000-0000000000CC}");
    std::ofstream(root.folderPath("out") + "{00000000-0000-0000-0000-0000000000CC}.velmo") << "x";
    EventCapture events;
    found = module.store.Find(broken);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->record);
    EXPECT_EQ(found->readError, E_FAIL);
    EXPECT_EQ(events.Count("Failed loading velmo file"), 0);  // finding reports nothing itself
    EXPECT_EQ(status(broken), NOT_FOUND);
    EXPECT_EQ(events.Count("Failed loading velmo file"), 1);
    EXPECT_EQ(root.Files("out").size(), 1u);  // not moved
    received->Release();
    center->Release();
}

TEST_F(DispatcherTest, FinishedMessageThatCannotBeSavedStaysQueued)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(1);
    std::filesystem::remove_all(root.folderPath("out/sent"));
    module.dispatcher.Start();
    EventCapture events;
    GUID id{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), &id), S_OK);
    std::string target = root.folderPath("out/sent") + velmo::GuidToUtf8(id) + ".velmo";
    ASSERT_TRUE(WaitUntil([&] { return events.Count("Failed saving velmo file: [" + target + "]") == 1; }));
    EXPECT_EQ(root.Files("out").size(), 1u);
}

TEST_F(DispatcherTest, PickupGivesANewIdAndKeepsTheTexts)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.Start();
    auto* dropped = new MessageRecord();
    dropped->Initialise();
    dropped->To = Bstr(u"+4930");
    dropped->From = Bstr(u"alerts");
    dropped->Body = Bstr(u"disk full");
    dropped->RetryCount = 7;
    dropped->StatusText = Bstr(u"old");
    ASSERT_EQ(dropped->SaveToFile(root.root() + u"pickup/alert.velmo"), S_OK);
    std::ofstream(root.folderPath("pickup") + "garbage.velmo") << "xx";
    // A producer still writing (and holding its lock) is left alone.
    velmo::Handle writing(CreateFileW((root.root() + u"pickup/partial.velmo").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(writing.get(), INVALID_HANDLE_VALUE);

    EventCapture events;
    module.dispatcher.ScanPickup();
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 1; }));
    EXPECT_EQ(root.Files("pickup"), std::vector<std::string>{"partial.velmo"});
    EXPECT_EQ(root.Files("bad"), std::vector<std::string>{"garbage.velmo"});
    EXPECT_EQ(events.Count("Failed loading velmo file: [" + root.folderPath("pickup") + "garbage.velmo]"), 1);
    MessageRecord* sent = Load("out/sent", root.Files("out/sent")[0]);
    EXPECT_NE(velmo::GuidToUtf8(sent->Id), velmo::GuidToUtf8(dropped->Id));
    EXPECT_EQ(sent->To.str(), u"+4930");
    EXPECT_EQ(sent->From.str(), u"alerts");
    EXPECT_EQ(sent->Body.str(), u"disk full");
    EXPECT_EQ(sent->RetryCount, 0);
    EXPECT_TRUE(sent->StatusText.IsNull());
    sent->Release();
    dropped->Release();
}

TEST_F(DispatcherTest, APickupFileNoDeviceTakesIsFailedNotLeftWaiting)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(5);
    module.dispatcher.Start();
    auto* dropped = new MessageRecord();
    dropped->Initialise();
    dropped->To = Bstr(u"+4930");
    ASSERT_EQ(dropped->SaveToFile(root.root() + u"pickup/a.velmo"), S_OK);
    dropped->Release();
    EventCapture events;
    module.dispatcher.ScanPickup();
    EXPECT_TRUE(root.Files("pickup").empty());
    EXPECT_TRUE(ListAll(root, "pickup").empty());  // no claim left either
    EXPECT_TRUE(root.Files("out").empty());
    EXPECT_EQ(root.Files("out/failed").size(), 1u);
}

TEST_F(DispatcherTest, ClaimsLeftByACrashAreFinishedWithoutDuplicates)
{
    Add(1);
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.Start();
    // Claimed, not yet queued: queued under its id.
    auto* lone = new MessageRecord();
    lone->Initialise();
    lone->Body = Bstr(u"lone");
    lone->To = Bstr(u"+4930");
    ASSERT_EQ(lone->SaveToFile(root.root() + u"pickup/" + velmo::GuidToString(lone->Id) + u".claimed"), S_OK);
    // Claimed and queued: the claim only goes away.
    auto* queued = new MessageRecord();
    queued->Initialise();
    ASSERT_EQ(queued->SaveToFile(root.root() + u"pickup/" + velmo::GuidToString(queued->Id) + u".claimed"), S_OK);
    queued->Status = SENT;
    ASSERT_EQ(queued->SaveToFile(root.root() + u"out/sent/" + queued->FileName()), S_OK);

    module.dispatcher.ScanPickup();
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 2; }));
    EXPECT_TRUE(std::filesystem::is_empty(root.folderPath("pickup")));
    MessageRecord* sent = Load("out/sent", velmo::Utf16ToUtf8(lone->FileName()));
    EXPECT_EQ(sent->Body.str(), u"lone");
    sent->Release();
    lone->Release();
    queued->Release();
}

struct RouteCase {
    const char* name;
    std::vector<std::tuple<const char16_t*, LONG, bool>> rules;
    const char16_t* to;            // null: a message without recipient
    std::map<LONG, double> share;  // expected share of each device
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }

class Routing : public ::testing::TestWithParam<RouteCase> {};

TEST_P(Routing, ChoosesTheDevicesTheRulesName)
{
    const RouteCase& c = GetParam();
    velmo::routing::Router router;
    for (auto& [pattern, device, cont] : c.rules)
        ASSERT_EQ(router.AddRule(pattern, device, cont), 0);
    router.SetDefaultDevice(9);
    std::map<LONG, int> counts;
    const int n = 4000;
    Bstr to = c.to ? Bstr(c.to) : Bstr();
    auto waiting = [](LONG) -> std::optional<std::size_t> { return 0; };
    for (int i = 0; i < n; ++i)
        ++counts[router.Choose(to, waiting)];
    for (auto& [device, share] : c.share)
        EXPECT_NEAR(counts[device] / double(n), share, 0.05) << "device " << device;
    int total = 0;
    for (auto& [device, count] : counts)
        total += count;
    EXPECT_EQ(total, n);
    for (auto& [device, count] : counts)
        EXPECT_TRUE(c.share.count(device)) << "unexpected device " << device;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Routing,
    ::testing::Values(RouteCase{"NoRulesDefault", {}, u"+491", {{9, 1.0}}},
                      RouteCase{"NullRecipientDefault", {{u".*", 1, true}}, nullptr, {{9, 1.0}}},
                      RouteCase{"FirstStops", {{u"49", 1, false}, {u"4", 2, true}}, u"+4930", {{1, 1.0}}},
                      RouteCase{"OnlySecondMatches", {{u"49", 1, false}, {u"3", 2, true}}, u"+3330", {{2, 1.0}}},
                      RouteCase{"EvenSplit", {{u"49", 1, true}, {u"30", 2, false}}, u"+4930", {{1, 0.5}, {2, 0.5}}},
                      RouteCase{"TwiceAsLikely",
                                {{u"4", 1, true}, {u"9", 1, true}, {u"3", 2, true}},
                                u"+493",
                                {{1, 2 / 3.0}, {2, 1 / 3.0}}},
                      RouteCase{"CaretNeverMatches", {{u"^\\+46", 1, true}}, u"+4670", {{9, 1.0}}},
                      RouteCase{"DollarNeverMatches", {{u"70$", 1, true}}, u"+4670", {{9, 1.0}}},
                      RouteCase{"WithoutCaretMatchesInside", {{u"\\+46", 1, true}}, u"0046+4670", {{1, 1.0}}},
                      RouteCase{"CaseSensitive", {{u"abc", 1, true}}, u"ABC", {{9, 1.0}}},
                      RouteCase{"BeyondTheBasicPlane", {{u"x\U0001F600y", 1, true}}, u"ax\U0001F600yb", {{1, 1.0}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(DispatcherTest, PatternThatDoesNotCompileIsRefused)
{
    EXPECT_NE(module.dispatcher.Devices().AddRule(u"(", 1, true), 0);
    EXPECT_NE(module.dispatcher.Devices().AddRule(u"[a", 1, true), 0);
    int rules = 0;
    module.dispatcher.Devices().ForEachRule([&](const auto&) { ++rules; });
    EXPECT_EQ(rules, 0);
}

// The anchors that never match are found wherever they stand outside a
// bracket expression; an escaped one or one inside brackets is a character.
TEST(RulePatterns, AnchorsThatNeverMatchAreFound)
{
    struct Case {
        const char16_t* pattern;
        char anchor;  // 0: none is found
    } cases[] = {
        {u"^\\+49", '^'},
        {u"^49", '^'},
        {u"0049|^\\+49", '^'},
        {u"70$", '$'},
        {u"\\+49", 0},
        {u"\\^49", 0},
        {u"49\\$", 0},
        {u"[^0-9]", 0},
        {u"[]^]", 0},
        {u"[^]$]", 0},
        {u"[[:digit:]^]+", 0},
        {u"[a-z]$", '$'},
        {u"[[:alpha:]]^", '^'},
        {u"\\", 0},
        {u"[", 0},
        {u"", 0},
    };
    for (const Case& c : cases) {
        std::string warning = velmo::routing::AnchorWarning(c.pattern);
        if (c.anchor)
            EXPECT_EQ(warning.substr(0, 2), std::string(1, c.anchor) + " ") << velmo::Utf16ToUtf8(c.pattern);
        else
            EXPECT_EQ(warning, "") << velmo::Utf16ToUtf8(c.pattern);
    }
    EXPECT_EQ(velmo::routing::PatternErrorText(8), "Unmatched marking parenthesis ( or \\(");
    EXPECT_EQ(velmo::routing::PatternErrorText(7), "Unmatched [ or [^ in character class declaration");
}

TEST(ModeLock, VisitsShareAndChangesAreAlone)
{
    for (int mode : {1, 2}) {
        velmo::devices::ModeLock lock;
        std::atomic<int> inside{0}, most{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 50; ++i) {
                    velmo::devices::ModeLock::Hold hold(lock, mode);
                    int now = ++inside;
                    int seen = most;
                    while (now > seen && !most.compare_exchange_weak(seen, now)) {
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    --inside;
                }
            });
        for (auto& t : threads)
            t.join();
        if (mode == 1) {
            EXPECT_GT(most.load(), 1);
        } else {
            EXPECT_EQ(most.load(), 1);
        }
    }
}

}  // namespace
