// velmosvc as administrators run it: the command line under a temporary
// system root, the console run, and the service run with systemd's
// notification socket.
#include "platform/RegistryValues.h"
#include "platform/Registry.h"
#include "platform/TempRoot.h"
#include "service/EventCapture.h"
#include "service/Program.h"
#include "service/ServiceRoot.h"
#include "platform/Text.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Outcome {
    int code;
    std::string out, err;
};

Outcome RunOnce(std::vector<std::string> args)
{
    Program p(std::move(args));
    int code = p.Wait();
    return {code, p.Out(), p.Err()};
}

std::optional<std::u16string> Value(velmo::Hive hive, std::u16string_view key, std::u16string_view name)
{
    return velmo::ReadRegistryString(hive, key, name);
}

bool KeyExists(velmo::Hive hive, const char16_t* path) { return RegistryKeyExists(hive, path); }

void WriteConfig(const TempRoot& root, const std::string& xml)
{
    std::filesystem::create_directories(root.path() + "/var/lib/velmo");
    std::ofstream(root.path() + "/var/lib/velmo/config.xml") << xml;
}

constexpr const char16_t* kAppIdKey = u"AppId\\{b14eb58c-00ee-4C08-ae67-dcd6045ddb44}";
constexpr const char16_t* kNewSmsKey = u"CLSID\\{C7F74FB8-7146-4AE5-9D83-37751212E0A1}";
constexpr const char16_t* kEventKey = u"System\\CurrentControlSet\\Services\\EventLog\\Application\\velmosvc";

TEST(Velmosvc, RegisterTwiceThenUnregisterTwice)
{
    TempRoot root;
    Outcome first = RunOnce({"/register"});
    EXPECT_EQ(first.code, 0);
    EXPECT_EQ(first.out, "Service installed\n");
    EXPECT_EQ(first.err, "");

    std::u16string rootValue = velmo::Utf8ToUtf16(root.path() + "/var/lib/velmo/");
    EXPECT_EQ(Value(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root"), rootValue);
    EXPECT_EQ(Value(velmo::Hive::LocalMachine, kEventKey, u"EventMessageFile"), velmo::Utf8ToUtf16(VELMO_SVC));
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, kAppIdKey, u""), u"velmosvc");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, kAppIdKey, u"LocalService"), u"velmosvc");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, kNewSmsKey, u""), u"NewSMS Class");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, kNewSmsKey, u"AppID"), u"{B14EB58C-00EE-4c08-AE67-DCD6045DDB44}");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, std::u16string(kNewSmsKey) + u"\\TypeLib", u""),
              u"{3589C97E-0D5E-4b9a-B1C4-FCB5E239A144}");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, u"Velmo.NewSMS\\CurVer", u""), u"Velmo.NewSMS");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, u"Velmo.MessageCenter.1\\CLSID", u""),
              u"{B0463299-53D5-4317-9EA1-93E0F15CD05C}");
    EXPECT_TRUE(KeyExists(velmo::Hive::ClassesRoot, u"CLSID\\{B0463299-53D5-4317-9EA1-93E0F15CD05C}\\Programmable"));
    EXPECT_TRUE(KeyExists(velmo::Hive::ClassesRoot, u"TypeLib\\{3589C97E-0D5E-4B9A-B1C4-FCB5E239A144}\\1.0"));
    EXPECT_EQ(ReadRegistryDword(velmo::Hive::LocalMachine, kEventKey, u"TypesSupported"), 7u);
    EXPECT_TRUE(std::filesystem::exists(root.path() + "/etc/systemd/system/velmosvc.service"));
    EXPECT_TRUE(std::filesystem::exists(root.path() + "/usr/share/dbus-1/system-services/org.norvane.Velmo.service"));
    EXPECT_TRUE(std::filesystem::exists(root.path() + "/etc/dbus-1/system.d/org.norvane.Velmo.conf"));

    // The administrator moves the root; a failed second install keeps it.
    ASSERT_EQ(SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root", u"/srv/velmo/"),
              ERROR_SUCCESS);
    ASSERT_EQ(RemoveRegistryTree(velmo::Hive::ClassesRoot, kNewSmsKey), ERROR_SUCCESS);
    Outcome second = RunOnce({"/REGISTER"});
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(second.out, "Service install failed, error 0x00000431\n");
    EXPECT_EQ(Value(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root"), u"/srv/velmo/");
    EXPECT_EQ(Value(velmo::Hive::ClassesRoot, kNewSmsKey, u""), u"NewSMS Class");  // classes registered again

    Outcome removed = RunOnce({"/Unregister"});
    EXPECT_EQ(removed.code, 0);
    EXPECT_EQ(removed.out, "Service uninstalled\n");
    EXPECT_FALSE(KeyExists(velmo::Hive::ClassesRoot, kNewSmsKey));
    EXPECT_FALSE(KeyExists(velmo::Hive::ClassesRoot, u"Velmo.NewSMS"));
    EXPECT_FALSE(KeyExists(velmo::Hive::ClassesRoot, u"Velmo.MessageCenter.1"));
    EXPECT_FALSE(KeyExists(velmo::Hive::ClassesRoot, u"CLSID\\{B0463299-53D5-4317-9EA1-93E0F15CD05C}"));
    EXPECT_FALSE(KeyExists(velmo::Hive::LocalMachine, kEventKey));
    EXPECT_TRUE(KeyExists(velmo::Hive::ClassesRoot, kAppIdKey));
    EXPECT_EQ(Value(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo", u"root"), u"/srv/velmo/");
    EXPECT_TRUE(KeyExists(velmo::Hive::ClassesRoot, u"TypeLib\\{3589C97E-0D5E-4B9A-B1C4-FCB5E239A144}"));
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/etc/systemd/system/velmosvc.service"));
    EXPECT_TRUE(std::filesystem::exists(root.path() + "/usr/share/dbus-1/system-services/org.norvane.Velmo.service"));
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/etc/dbus-1/system.d/org.norvane.Velmo.conf"));

    Outcome again = RunOnce({"/UNREGISTER", "extra", "args"});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out, "Service uninstall failed, error 0x00000424\n");
}

TEST(Velmosvc, NogoPrintsAndWritesNothing)
{
    TempRoot root;
    Outcome r = RunOnce({"/nogo", "/REGISTER"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}

TEST(Velmosvc, WithoutTheManagerTheProgramEndsAtOnce)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1));
    for (const char* arg : {"", "/unknown"}) {
        Outcome r = RunOnce(*arg ? std::vector<std::string>{arg} : std::vector<std::string>{});
        EXPECT_EQ(r.code, 0) << arg;
        EXPECT_EQ(r.out + r.err, "") << arg;
    }
}

TEST(Velmosvc, CheckPrintsWhatWouldStartAndExitsWithTheVerdict)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1));
    Outcome good = RunOnce({"/check"});
    EXPECT_EQ(good.code, 0);
    EXPECT_EQ(good.err, "");
    EXPECT_NE(good.out.find("\ndevice 1 "), std::string::npos) << good.out;
    EXPECT_NE(good.out.find("\nThe service would start.\n"), std::string::npos) << good.out;

    WriteConfig(root, "<velmo><configuration><queue max='1'/></configuration></velmo>");
    Outcome bad = RunOnce({"/CHECK"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "");
    EXPECT_NE(bad.out.find("\nproblem: /velmo/configuration/retries is missing\n"), std::string::npos) << bad.out;
    EXPECT_NE(bad.out.find("\nThe service would not start.\n"), std::string::npos) << bad.out;
}

struct ConsoleCase {
    const char* name;
    const char* xml;
    const char* err;
};

void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class VelmosvcConsole : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(VelmosvcConsole, ConfigurationThatStopsTheService)
{
    TempRoot root;
    WriteConfig(root, GetParam().xml);
    Outcome r = RunOnce({"/debug"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, VelmosvcConsole,
    ::testing::Values(
        ConsoleCase{"NoDevices",
                    "<velmo><configuration><queue max='0'/><retries max='0'/></configuration><devices>"
                    "<device status='0' id='1' name='Off' clsid='x'/></devices><rules/><eventhandlers/></velmo>",
                    "velmosvc: error: config.xml: no devices specified.\nvelmosvc: information: service is stopped.\n"},
        ConsoleCase{
            "NoQueue",
            "<velmo><configuration><retries max='0'/></configuration><devices/><rules/><eventhandlers/></velmo>",
            "velmosvc: error: config.xml: invalid configuration file.\n"
            "velmosvc: error: config.xml: /velmo/configuration/queue is missing.\n"
            "velmosvc: information: service is stopped.\n"},
        ConsoleCase{"EmptyFile", "",
                    "velmosvc: error: config.xml: invalid configuration file.\n"
                    "velmosvc: error: config.xml: line 1, column 1: No document element found; "
                    "/velmo/configuration/queue is missing; /velmo/configuration/retries is missing; /velmo/devices is "
                    "missing; /velmo/rules is missing; /velmo/eventhandlers is missing.\n"
                    "velmosvc: information: service is stopped.\n"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Velmosvc, ConsoleStopsInOrderOnSigintAndSigterm)
{
    for (int signal : {SIGINT, SIGTERM}) {
        ServiceRoot root;
        root.WriteConfig(Loopback(1));
        Program p({"/DEBUG"});
        ASSERT_TRUE(p.WaitUntilBlocks(signal)) << signal;
        kill(p.pid(), signal);
        EXPECT_EQ(p.Wait(), 0) << signal;
        // The stop may come before or after the devices started.
        std::string err = p.Err();
        EXPECT_TRUE(err == "velmosvc: information: service is stopped.\n" ||
                    err == "velmosvc: information: Service started. Dispatcher loaded 0 previously stored messages "
                           "in the queue folder.\nvelmosvc: information: service is stopped.\n")
            << err;
    }
}

TEST(Velmosvc, StopDuringARunThatDoesNotReturnAbandonsTheWorker)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1, Param("delay", "600000")));
    std::ofstream(root.folderPath("out") + "x.velmo");  // unreadable: moved to bad, keeps nothing busy
    {
        // One stored message puts the device into its endless send.
        std::vector<unsigned char> bytes(88, 0);
        bytes[68] = 1;  // queued
        std::ofstream(root.folderPath("out") + "{00000000-0000-0000-0000-000000000001}.velmo", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Test-only: the 15 s wait for the worker becomes 150 ms.
    Program p({"/DEBUG"}, {{"VELMO_TEST_TIME_DIVISOR", "100"}});
    ASSERT_TRUE(WaitUntil([&] { return p.Err().find("Service started.") != std::string::npos; })) << p.Err();
    ASSERT_TRUE(p.WaitUntilBlocks(SIGTERM));
    kill(p.pid(), SIGTERM);
    EXPECT_EQ(p.Wait(std::chrono::seconds(10)), 0);
    EXPECT_TRUE(p.Err().ends_with("velmosvc: information: service is stopped.\n")) << p.Err();
}

// systemd's notification socket, as a test stands it up.
class NotifySocket {
public:
    NotifySocket()
    {
        path_ = "/tmp/velmo-notify-" + std::to_string(getpid());
        unlink(path_.c_str());
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~NotifySocket()
    {
        close(fd_);
        unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    // Collects notifications until one contains text, within the deadline.
    bool WaitFor(const std::string& text, std::chrono::seconds deadline = std::chrono::seconds(10))
    {
        auto end = Clock::now() + deadline;
        while (Clock::now() < end) {
            if (seen_.find(text) != std::string::npos)
                return true;
            char buf[512];
            ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                seen_.append(buf, static_cast<std::size_t>(n)).push_back('\n');
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return seen_.find(text) != std::string::npos;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::string seen_;
};

TEST(Velmosvc, BusActivatedServiceReportsToSystemdAndStopsOnSigterm)
{
    ServiceRoot root;
    root.WriteConfig(Loopback(1));
    NotifySocket notify;
    Program p({}, {{"DBUS_STARTER_BUS_TYPE", "system"}, {"NOTIFY_SOCKET", notify.path()}});
    ASSERT_TRUE(notify.WaitFor("READY=1"));
    kill(p.pid(), SIGTERM);
    EXPECT_TRUE(notify.WaitFor("STOPPING=1"));
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(p.Out() + p.Err(), "");  // a service writes to the log, not the console
}

TEST(Velmosvc, BusActivatedServiceWithoutDevicesStopsByItself)
{
    TempRoot root;
    WriteConfig(root, "<velmo><configuration><queue max='0'/><retries max='0'/></configuration>"
                      "<devices/><rules/><eventhandlers/></velmo>");
    NotifySocket notify;
    Program p({}, {{"DBUS_STARTER_BUS_TYPE", "system"}, {"NOTIFY_SOCKET", notify.path()}});
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_TRUE(notify.WaitFor("READY=1"));
    EXPECT_TRUE(notify.WaitFor("STATUS=stopped"));
}

}  // namespace
