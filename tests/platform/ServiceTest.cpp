#include "platform/MainLoop.h"
#include "platform/Service.h"
#include "platform/StopSignals.h"
#include "platform/TempRoot.h"
#include "platform/Text.h"

#include <csignal>
#include <fstream>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs body in a child process (one thread, so signal masks are its own)
// and gives its exit code; -1 when it did not exit normally.
template <class Body>
int InChild(Body body, int signalToSend = 0)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    if (signalToSend) {
        // The child says it is ready by creating its stop file; poll for it.
        for (int i = 0; i < 500 && access(("/tmp/velmo-ready-" + std::to_string(pid)).c_str(), F_OK) != 0; ++i)
            usleep(10000);
        kill(pid, signalToSend);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    unlink(("/tmp/velmo-ready-" + std::to_string(pid)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SayReady() { std::ofstream("/tmp/velmo-ready-" + std::to_string(getpid())) << "1"; }

TEST(Service, InstallWritesTheUnitAndRefusesASecondOne)
{
    TempRoot root;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = CreateServiceW(manager, u"velmosvc", u"Norvane SMS Service", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       u"/opt/velmo dir/velmosvc", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    CloseServiceHandle(service);
    std::string unit = ReadText(root.path() + "/etc/systemd/system/velmosvc.service");
    for (const char* line : {"Description=Norvane SMS Service\n", "Type=notify\n",
                             "ExecStart=\"/opt/velmo dir/velmosvc\"\n", "Restart=always\n", "RestartSec=30\n"})
        EXPECT_NE(unit.find(line), std::string::npos) << line;

    EXPECT_EQ(CreateServiceW(manager, u"velmosvc", u"x", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"/other", nullptr, nullptr, nullptr, nullptr,
                             nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(ReadText(root.path() + "/etc/systemd/system/velmosvc.service"), unit);

    service = OpenServiceW(manager, u"velmosvc", DELETE);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    EXPECT_EQ(OpenServiceW(manager, u"velmosvc", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    CloseServiceHandle(manager);
}

TEST(Service, AnAccountAndAddedSettingsEndTheServiceSection)
{
    TempRoot root;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(CreateServiceW(manager, u"bad", u"x", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, u"/x", nullptr, nullptr, nullptr, u"two words", nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SC_HANDLE service =
        CreateServiceW(manager, u"velmosvc", u"x", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, u"/usr/sbin/velmosvc", nullptr, nullptr, nullptr, u"velmo", nullptr);
    ASSERT_NE(service, nullptr);
    const std::string path = root.path() + "/etc/systemd/system/velmosvc.service";
    std::string before = ReadText(path);
    EXPECT_NE(before.find("RestartSec=30\nUser=velmo\nGroup=velmo\n\n[Install]\n"), std::string::npos) << before;

    // Settings that would leave the section, or are not whole lines, change nothing.
    for (const char* bad : {"", "NoNewPrivileges=yes", "[Unit]\nAfter=x\n", "A=1\n[Install]\nWantedBy=x\n"}) {
        EXPECT_FALSE(velmo::AddServiceSettings(service, bad)) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << bad;
    }
    EXPECT_FALSE(velmo::AddServiceSettings(manager, "A=1\n"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ReadText(path), before);

    ASSERT_TRUE(velmo::AddServiceSettings(service, "ProtectSystem=strict\nReadWritePaths=\"/var/lib/a b/\"\n"));
    EXPECT_NE(ReadText(path).find("Group=velmo\nProtectSystem=strict\nReadWritePaths=\"/var/lib/a b/\"\n\n"
                                  "[Install]\nWantedBy=multi-user.target\n"),
              std::string::npos)
        << ReadText(path);
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(Service, DispatcherRefusesAProgramNotStartedByTheManager)
{
    int code = InChild([] {
        unsetenv("DBUS_STARTER_BUS_TYPE");
        static bool ran = false;
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(u"velmosvc"), [](DWORD, LPWSTR*) { ran = true; }},
                                        {nullptr, nullptr}};
        if (StartServiceCtrlDispatcherW(table) || ran)
            return 1;
        return GetLastError() == static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
}

HANDLE g_stopped;

TEST(Service, SigtermBecomesTheStopControlOfABusActivatedService)
{
    int code = InChild(
        [] {
            setenv("DBUS_STARTER_BUS_TYPE", "system", 1);
            g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(u"velmosvc"),
                                             [](DWORD argc, LPWSTR* argv) {
                                                 if (argc != 1 || std::u16string(argv[0]) != u"velmosvc")
                                                     return;
                                                 RegisterServiceCtrlHandlerW(u"velmosvc", [](DWORD control) {
                                                     if (control == SERVICE_CONTROL_STOP)
                                                         SetEvent(g_stopped);
                                                 });
                                                 SayReady();
                                                 WaitForSingleObject(g_stopped, 5000);
                                             }},
                                            {nullptr, nullptr}};
            if (!StartServiceCtrlDispatcherW(table))
                return 2;
            return WaitForSingleObject(g_stopped, 0) == WAIT_OBJECT_0 ? 0 : 3;
        },
        SIGTERM);
    EXPECT_EQ(code, 0);
}

std::atomic<int> g_stopSignal{-1};

// Each signal reaches the function as what it is; the process lives on.
TEST(Service, StopSignalsRunTheFunctionInsteadOfEndingTheProgram)
{
    for (int signal : {SIGINT, SIGTERM}) {
        int code = InChild(
            [] {
                g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
                if (!velmo::OnStopSignals([](velmo::StopSignal s) {
                        g_stopSignal = s == velmo::StopSignal::Interrupt ? SIGINT : SIGTERM;
                        SetEvent(g_stopped);
                    }))
                    return 4;
                SayReady();
                if (WaitForSingleObject(g_stopped, 5000) != WAIT_OBJECT_0)
                    return 2;
                return 10 + (g_stopSignal == SIGINT ? 1 : 2);
            },
            signal);
        EXPECT_EQ(code, signal == SIGINT ? 11 : 12) << signal;
    }
}

TEST(MainLoop, AQuitAskedBeforeTheLoopIsKeptAndTakenOnce)
{
    DWORD self = GetCurrentThreadId();
    HANDLE asker = CreateThread(
        nullptr, 0, [](void* p) -> DWORD { return velmo::QuitMainLoop(*static_cast<DWORD*>(p)) ? 0 : 1; }, &self, 0,
        nullptr);
    WaitForSingleObject(asker, INFINITE);
    CloseHandle(asker);
    EXPECT_EQ(velmo::RunMainLoop(-1), velmo::LoopEvent::Quit);
    EXPECT_EQ(velmo::RunMainLoop(0), velmo::LoopEvent::TimedOut);  // taken once
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(velmo::RunMainLoop(30), velmo::LoopEvent::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_FALSE(velmo::QuitMainLoop(0));
}

}  // namespace
