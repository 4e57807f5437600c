// The device host's queue interface and the restart rule, in process.
#include "platform/File.h"
#include "platform/MainLoop.h"
#include "platform/Timing.h"
#include "service/EventCapture.h"
#include "service/ServiceRoot.h"
#include "messagefile/MessageId.h"
#include "service/host/ServiceModule.h"
#include "messagefile/QueueFolders.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

using velmo::Bstr;
using velmo::devices::DeviceHost;
using velmo::host::ServiceModule;
using velmo::messagefile::MessageRecord;

namespace {

// Test-only: the fixed waits of this process (the restart pauses among
// them) a hundred times shorter. The variable is read once, then removed,
// so no program started from here inherits it. This file is a test program
// of its own (host_tests), so no other in-process test shares the shortened
// waits.
const bool kFastWaits = [] {
    setenv("VELMO_TEST_TIME_DIVISOR", "100", 1);
    (void)velmo::DesignWait(1);
    unsetenv("VELMO_TEST_TIME_DIVISOR");
    return true;
}();

MessageRecord* NewRecord(const char16_t* to)
{
    auto* r = new MessageRecord();
    r->Initialise();
    r->To = Bstr(to);
    r->Body = Bstr(u"body");
    return r;
}

void DrainQuit()
{
    while (velmo::RunMainLoop(0) != velmo::LoopEvent::TimedOut) {
    }
}

bool QuitPosted()
{
    bool quit = false;
    for (velmo::LoopEvent e; (e = velmo::RunMainLoop(0)) != velmo::LoopEvent::TimedOut;)
        quit = quit || e == velmo::LoopEvent::Quit;
    return quit;
}

class HostTest : public ::testing::Test {
protected:
    HostTest()
    {
        module.mainThreadId = GetCurrentThreadId();
        DrainQuit();
    }
    ~HostTest() override { DeviceHost::SetClock(nullptr); }
    ServiceRoot root;
    ServiceModule module{root.root()};
};

TEST_F(HostTest, LoopbackRegistersItsProgIds)
{
    for (const char16_t* progId : {u"Loopback.Device", u"Loopback.Device.1"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_EQ(clsid, kLoopback);
    }
}

TEST_F(HostTest, WaitForMsgTakesStopThenQueueThenTheDevicesEvent)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Dev", kLoopback, u"<device/>");
    MessageRecord* record = NewRecord(u"123");
    ASSERT_EQ(host.Enqueue(record), S_OK);
    velmo::Handle own(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    host.StopThread();  // no thread yet: only signals the stop event

    LONG reason = 99;
    GUID id{};
    Bstr to, body;
    EXPECT_EQ(host.WaitForMsg(own.get(), &reason, &id, to.Receive(), body.Receive()), E_FAIL);
    EXPECT_EQ(reason, WAKE_NONE);
    EXPECT_TRUE(to.IsNull());

    EXPECT_EQ(host.WaitForMsg(own.get(), &reason, &id, to.Receive(), body.Receive()), S_OK);
    EXPECT_EQ(reason, WAKE_MESSAGE);
    EXPECT_EQ(to.str(), u"123");
    EXPECT_EQ(body.str(), u"body");
    EXPECT_EQ(std::memcmp(&id, &record->Id, sizeof id), 0);
    EXPECT_EQ(host.PendingCount(), 1u);  // handed out, not yet reported

    EXPECT_EQ(host.WaitForMsg(own.get(), &reason, &id, to.Receive(), body.Receive()), S_OK);
    EXPECT_EQ(reason, WAKE_EVENT);
    record->Release();
}

TEST_F(HostTest, StopWhileThreeMessagesWaitKeepsThemPending)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Dev", kLoopback, u"<device/>");
    for (int i = 0; i < 3; ++i) {
        MessageRecord* r = NewRecord(u"1");
        ASSERT_EQ(host.Enqueue(r), S_OK);
        r->Release();
    }
    host.StopThread();
    LONG reason = 99;
    EXPECT_EQ(host.WaitForMsg(nullptr, &reason, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(reason, WAKE_NONE);
    EXPECT_EQ(host.PendingCount(), 3u);
    EXPECT_EQ(host.QueuedCount(), 3u);
}

TEST_F(HostTest, QueueInterfaceAnswersOnlyItsOwnInterfaces)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Dev", kLoopback, u"<device/>");
    void* p = nullptr;
    EXPECT_EQ(host.QueryInterface(IID_IVelmo_Q, &p), S_OK);
    EXPECT_EQ(p, static_cast<IVelmo_Q*>(&host));
    EXPECT_EQ(host.QueryInterface(IID_IDispatch, &p), E_NOTIMPL);
    EXPECT_EQ(p, nullptr);
}

TEST_F(HostTest, ReportForAnUnknownMessageIsAcceptedAndLogged)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Dev", kLoopback, u"<device/>");
    EventCapture events;
    GUID id = velmo::MakeGuid("{00000000-0000-0000-0000-0000000000AB}");
    EXPECT_EQ(host.ReportMsgResult(id, 0, SEND_OK, nullptr), S_OK);
    EXPECT_EQ(events.Text(), "velmosvc: error: Failed loading velmo file: [" + root.folderPath("out") +
                                 "{00000000-0000-0000-0000-0000000000AB}.velmo].\n");
    EXPECT_TRUE(root.Files("bad").empty());
}

TEST_F(HostTest, IncomingMessageIsStoredWithoutASender)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Dev", kLoopback, u"<device/>");
    Bstr body(u"hello");
    ASSERT_EQ(host.ReportIncomingMsg(0, nullptr, body.get()), S_OK);
    auto files = root.Files("in");
    ASSERT_EQ(files.size(), 1u);
    auto* r = new MessageRecord();
    ASSERT_EQ(r->LoadFromFile(root.root() + u"in/" + velmo::Utf8ToUtf16(files[0])), S_OK);
    EXPECT_TRUE(r->From.IsNull());
    EXPECT_TRUE(r->To.IsNull());
    EXPECT_EQ(r->Body.str(), u"hello");
    EXPECT_EQ(r->Status, RECEIVED);
    EXPECT_NE(r->Received.wYear, 0);
    EXPECT_EQ(r->Completed.wYear, 0);
    EXPECT_EQ(module.eventHandlers.PendingCount(), 1u);
    r->Release();

    std::filesystem::remove_all(root.folderPath("in"));
    EXPECT_TRUE(FAILED(host.ReportIncomingMsg(0, body.get(), body.get())));  // the store's own failure
    EXPECT_EQ(module.eventHandlers.PendingCount(), 1u);
}

// Runs the supervision loop as the service's worker does, for a number of
// device ends; every ended device is started again.
void Supervise(ServiceModule& module, int ends)
{
    velmo::Handle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (int i = 0; i < ends; ++i) {
        LONG ended = module.dispatcher.WaitForDevices(never.get());
        ASSERT_GT(ended, 0);
        ASSERT_TRUE(module.dispatcher.RestartDevice(ended));
    }
}

// After the quick starts a device waits: it is started every minute, its
// rules and messages stay, the same failure is told once, and the service
// goes on.
TEST_F(HostTest, QuickRestartsEndInWaitingNeverInRemoval)
{
    std::int64_t now = 1000000;
    DeviceHost::SetClock([&] { return now += velmo::DesignWait(1000); });  // starts one second apart
    root.WriteConfig("");
    std::string away = root.path() + "/modem-away";
    std::ofstream(away).put('x');
    ASSERT_EQ(module.dispatcher.Devices().Add(1, u"Flaky", kLoopback,
                                              velmo::Utf8ToUtf16(Loopback(1, Param("failwhile", away)))),
              S_OK);
    ASSERT_EQ(module.dispatcher.Devices().AddRule(u"1", 1, true), 0);
    module.dispatcher.Devices().SetDefaultDevice(1);
    EventCapture events;
    auto start = std::chrono::steady_clock::now();
    module.dispatcher.Start();
    GUID id{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(u"waits for the modem"), &id), S_OK);
    Supervise(module, 7);  // five quick starts, then two a minute apart
    // Restarts are paced: 2, 4, 8 and 16 s before the second to fifth
    // start, then 60 s before each further one.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(velmo::DesignWait(30000 + 120000)));
    DeviceHost* host = nullptr;
    module.dispatcher.Devices().ForEach([&](DeviceHost& h) { host = &h; });
    ASSERT_NE(host, nullptr);
    DeviceHost::Health health = host->GetHealth();
    EXPECT_EQ(health.state, DeviceHost::RunState::Waiting);
    EXPECT_EQ(health.failedStarts, 7);
    EXPECT_EQ(health.lastError, "Flaky::Open failed: Loopback Open refused: " + away + " is there");
    EXPECT_GT(health.nextTry, velmo::WallClockMs());
    EXPECT_EQ(root.Files("out").size(), 1u);  // the message waits
    EXPECT_TRUE(root.Files("out/failed").empty());

    std::string failure = "velmosvc: error: Flaky::Open failed: Loopback Open refused: " + away + " is there.\n";
    EXPECT_EQ(events.Count("velmosvc: warning: Device [Flaky] has terminated unexpectedly. Attempting restart.\n"), 5);
    EXPECT_EQ(events.Count("velmosvc: error: Device [Flaky] has failed restarting > 5 times. It is started again "
                           "every 60 s until it runs; messages for it wait in the queue.\n"),
              1);
    EXPECT_EQ(events.Count(failure), 5);  // the waiting starts repeat it: not told again
    EXPECT_FALSE(QuitPosted());

    // The modem comes back: the next try runs it and the message goes out.
    std::filesystem::remove(away);
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 1; }, std::chrono::seconds(30)));
    EXPECT_EQ(host->GetHealth().state, DeviceHost::RunState::Running);
    EXPECT_EQ(host->GetHealth().failedStarts, 0);
    EXPECT_EQ(host->GetHealth().lastError, "");
    EXPECT_EQ(events.Count("velmosvc: information: Device [Flaky] runs again after 7 failed starts.\n"), 1);
    module.dispatcher.Stop();
    std::vector<LONG> ruleDevices;
    module.dispatcher.Devices().ForEachRule([&](const auto& r) { ruleDevices.push_back(r.DeviceId()); });
    EXPECT_EQ(ruleDevices, std::vector<LONG>{1});
}

TEST_F(HostTest, StartsFurtherApartThanTheWindowNeverEndTheDevice)
{
    std::int64_t now = 0;
    DeviceHost::SetClock([&] { return now += 61000; });
    ASSERT_EQ(
        module.dispatcher.Devices().Add(1, u"Slow", kLoopback, velmo::Utf8ToUtf16(Loopback(1, Param("fail", "run")))),
        S_OK);
    ASSERT_EQ(module.dispatcher.Devices().Add(2, u"Steady", kLoopback, velmo::Utf8ToUtf16(Loopback(2))), S_OK);
    EventCapture events;
    module.dispatcher.Start();
    Supervise(module, 12);
    // The last restart runs after its pause.
    EXPECT_TRUE(
        WaitUntil([&] { return events.Count("velmosvc: error: Slow::Run failed: Loopback Run refused.\n") == 13; }));
    module.dispatcher.Stop();
    EXPECT_EQ(module.dispatcher.Devices().Count(), 2u);
    EXPECT_EQ(events.Count("has failed restarting"), 0);
    EXPECT_EQ(events.Count("velmosvc: error: Slow::Run failed: Loopback Run refused.\n"), 13);
}

TEST_F(HostTest, MessagesOfAWaitingDeviceGoOutInByteOrderWhenItComesBack)
{
    std::int64_t now = 0;
    DeviceHost::SetClock([&] { return now += 10; });
    std::string log = root.path() + "/sent.log";
    std::string away = root.path() + "/modem-away";
    std::ofstream(away).put('x');
    ASSERT_EQ(module.dispatcher.Devices().Add(
                  1, u"Away", kLoopback, velmo::Utf8ToUtf16(Loopback(1, Param("failwhile", away) + Param("log", log)))),
              S_OK);
    ASSERT_EQ(module.dispatcher.Devices().AddRule(u"to-away", 1, false), 0);
    DeviceHost* host = nullptr;
    module.dispatcher.Devices().ForEach([&](DeviceHost& h) { host = &h; });
    // Five quick starts use up its run of quick starts.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(host->StartThread());
        WaitForSingleObject(host->Thread(), INFINITE);
    }
    std::vector<std::string> ids;
    for (int i = 0; i < 8; ++i) {
        MessageRecord* r = NewRecord(u"to-away");
        ASSERT_EQ(r->SaveToFile(root.root() + u"out/" + r->FileName()), S_OK);
        ASSERT_EQ(module.dispatcher.Dispatch(r), S_OK);
        ids.push_back(velmo::GuidToUtf8(r->Id));
        r->Release();
    }
    EXPECT_EQ(module.dispatcher.InFlight(), 8);
    std::filesystem::remove(away);
    EXPECT_TRUE(module.dispatcher.RestartDevice(1));
    EXPECT_EQ(host->State(), DeviceHost::RunState::Waiting);
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/sent").size() == 8; }));
    module.dispatcher.Stop();

    std::vector<GUID> guids;
    for (auto& text : ids)
        guids.push_back(*velmo::ParseGuid(text));
    std::sort(guids.begin(), guids.end(), GuidByteLess());
    std::ifstream in(log);
    std::string line;
    std::vector<std::string> order;
    while (std::getline(in, line))
        order.push_back(line.substr(0, 38));
    ASSERT_EQ(order.size(), 8u);
    for (std::size_t i = 0; i < guids.size(); ++i)
        EXPECT_EQ(order[i], velmo::GuidToUtf8(guids[i])) << i;
    EXPECT_EQ(module.dispatcher.InFlight(), 0);
}

TEST_F(HostTest, AMessageADeviceDiesHoldingCountsAsARetry)
{
    std::int64_t now = 0;
    DeviceHost::SetClock([&] { return now += 61000; });  // never a run of quick starts
    module.dispatcher.retryMax = 2;
    ASSERT_EQ(
        module.dispatcher.Devices().Add(
            1, u"Dying", kLoopback, velmo::Utf8ToUtf16(Loopback(1, Param("result", "none") + Param("stopafter", "1")))),
        S_OK);
    module.dispatcher.Devices().SetDefaultDevice(1);
    module.dispatcher.Start();
    GUID id{};
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"+4917"), Bstr(u"held when the device dies"), &id), S_OK);
    Supervise(module, 4);
    ASSERT_TRUE(WaitUntil([&] { return root.Files("out/failed").size() == 1; }));
    module.dispatcher.Stop();
    auto* r = new MessageRecord();
    ASSERT_EQ(r->LoadFromFile(root.root() + u"out/failed/" + velmo::messagefile::MessageFileName(id)), S_OK);
    EXPECT_EQ(r->Status, FAILED);
    EXPECT_EQ(r->RetryCount, 3);
    EXPECT_EQ(r->StatusText.str(), u"\r\nThe device ended before it reported the message"
                                   u"\r\nThe device ended before it reported the message"
                                   u"\r\nThe device ended before it reported the message"
                                   u"\r\nThe device ended before it reported the message"
                                   u"\r\nAttempted too many retries");
    r->Release();
    EXPECT_TRUE(root.Files("out").empty());
    EXPECT_EQ(module.dispatcher.InFlight(), 0);
}

TEST_F(HostTest, TheRunningDevicesRadioStateAndIncomingStatusText)
{
    DeviceHost host(module, module.dispatcher, module.eventHandlers, 1, u"Radio", kLoopback,
                    velmo::Utf8ToUtf16(Loopback(1, Param("signal", "17") + Param("operator", "Norvane Mobile"))));
    LONG signal = 0, registration = 0;
    Bstr name;
    EXPECT_EQ(host.GetModemState(&signal, &registration, name.Receive()), E_NOTIMPL);  // nothing runs yet
    ASSERT_TRUE(host.StartThread());
    ASSERT_TRUE(WaitUntil([&] { return host.GetModemState(&signal, &registration, name.Receive()) == S_OK; }));
    EXPECT_EQ(signal, 17);
    EXPECT_EQ(registration, REGISTRATION_HOME);
    EXPECT_EQ(name.str(), u"Norvane Mobile");
    host.StopThread();
    EXPECT_EQ(host.GetModemState(&signal, &registration, name.Receive()), E_NOTIMPL);

    velmo::ComPtr<IVelmo_Q2> extended;
    ASSERT_EQ(host.QueryInterface(IID_IVelmo_Q2, extended.ReceiveVoid()), S_OK);
    Bstr body(u"07AB"), status(u"does not decode");
    ASSERT_EQ(extended->ReportIncomingMsgEx(nullptr, body.get(), status.get()), S_OK);
    auto files = root.Files("in");
    ASSERT_EQ(files.size(), 1u);
    auto* r = new MessageRecord();
    ASSERT_EQ(r->LoadFromFile(root.root() + u"in/" + velmo::Utf8ToUtf16(files[0])), S_OK);
    EXPECT_EQ(r->Status, RECEIVED);
    EXPECT_EQ(r->Body.str(), u"07AB");
    EXPECT_EQ(r->StatusText.str(), u"does not decode");
    r->Release();
}

TEST_F(HostTest, AClassThatCannotBeCreatedSaysWhyBeforeTheRestart)
{
    std::int64_t now = 0;
    DeviceHost::SetClock([&] { return now += 61000; });
    const CLSID unknown = velmo::MakeGuid("{0D0D0D0D-0000-4000-8000-00000000000D}");
    ASSERT_EQ(module.dispatcher.Devices().Add(1, u"Ghost", unknown, u"<device/>"), S_OK);
    EventCapture events;
    module.dispatcher.Start();
    Supervise(module, 1);
    module.dispatcher.Stop();
    std::string text = events.Text();
    std::size_t cause = text.find("velmosvc: error: Device [Ghost]: its class {0D0D0D0D-0000-4000-8000-00000000000D} "
                                  "cannot be created (0x80040154).\n");
    std::size_t restart =
        text.find("velmosvc: warning: Device [Ghost] has terminated unexpectedly. Attempting restart.\n");
    ASSERT_NE(cause, std::string::npos) << text;
    ASSERT_NE(restart, std::string::npos) << text;
    EXPECT_LT(cause, restart);
}

TEST_F(HostTest, SeventyDevicesAreAllWatched)
{
    for (LONG id = 1; id <= 70; ++id)
        ASSERT_EQ(module.dispatcher.Devices().Add(
                      id, u"D", kLoopback,
                      velmo::Utf8ToUtf16(Loopback(static_cast<int>(id), id == 70 ? Param("stopafter", "1") : ""))),
                  S_OK);
    module.dispatcher.Devices().SetDefaultDevice(70);
    module.dispatcher.Start();
    ASSERT_EQ(module.dispatcher.QueueMessage(Bstr(u"1"), Bstr(u"b"), nullptr), S_OK);
    velmo::Handle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(module.dispatcher.WaitForDevices(never.get()), 70);  // the 70th ended after its one message
    module.dispatcher.Stop();
}

}  // namespace
