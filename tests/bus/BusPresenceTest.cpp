// The service and its bus coming and going: a service started before its
// bus joins the bus when it appears, with its gateway, so a client reaches
// it instead of having a second one started; a service the bus started ends with its bus.
#include "bus/ServiceSandbox.h"
#include "interfaces/VelmoLib.h"

#include <csignal>

namespace {

pid_t Owner(const ServiceSandbox& sandbox)
{
    std::string pid = Capture("busctl --address=" + sandbox.BusAddress() +
                              " call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus "
                              "GetConnectionUnixProcessID s org.norvane.Velmo 2>/dev/null | cut -d' ' -f2");
    return std::atoi(pid.c_str());
}

TEST(BusPresence, AServiceStartedBeforeItsBusJoinsItWhenItAppears)
{
    ServiceSandbox sandbox("", false);
    Program service({"/DEBUG"}, {{"VELMO_TEST_TIME_DIVISOR", "10"}});  // tried every 500 ms
    ASSERT_TRUE(WaitUntil([&] { return service.Err().find("Service started.") != std::string::npos; }))
        << service.Err();
    sandbox.StartBus();
    ASSERT_TRUE(WaitUntil([&] { return Owner(sandbox) == service.pid(); })) << service.Err();
    EXPECT_NE(service.Err().find("velmosvc: information: The service is on the system bus now.\n"), std::string::npos)
        << service.Err();
    // A client reaches the running service; no second one is activated.
    int code = 0;
    std::string out = Capture("'" VELMO_VELMO "' send +4917 'to the service that came first' 2>&1", &code);
    ASSERT_EQ(code, 0) << out;
    std::string id = out.substr(0, out.find('\n'));
    EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(sandbox.Folder("out/sent") + id + ".velmo"); }));
    EXPECT_EQ(Owner(sandbox), service.pid());
    // The gateway object joined the bus with the classes.
    out = Capture("'" VELMO_VELMO "' status " + id + " 2>&1", &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out.rfind("SENT\n", 0), 0u) << out;
    ASSERT_TRUE(service.WaitUntilBlocks(SIGTERM));
    kill(service.pid(), SIGTERM);
    EXPECT_EQ(service.Wait(), 0);
}

TEST(BusPresence, AServiceTheBusStartedEndsWithItsBus)
{
    ServiceSandbox sandbox;
    int code = 0;
    std::string out = Capture("busctl --address=" + sandbox.BusAddress() +
                                  " call org.norvane.Velmo /org/norvane/Velmo org.norvane.Velmo.Activator "
                                  "CreateInstance s Velmo.MessageCenter 2>&1",
                              &code);
    ASSERT_EQ(code, 0) << out;
    pid_t pid = Owner(sandbox);
    ASSERT_GT(pid, 0);
    sandbox.StopBus();
    EXPECT_TRUE(WaitUntil([&] { return kill(pid, 0) != 0; }, std::chrono::seconds(20))) << "velmosvc outlived its bus";
}

}  // namespace
