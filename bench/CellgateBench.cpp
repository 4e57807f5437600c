// The GSM device's own cost per message, on top of the modem's: a timed
// program that runs a service core in process with the Cellgate device on
// modemsim, queues the messages and waits until each has been reported.
// Two runs: a modem that answers each message at once, and one that takes
// 1 s per message, as a real modem on a real network does.
//
//   cellgate_bench [INSTANT_COUNT [SLOW_COUNT]]   (default 200 and 20)
#include "platform/Activation.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"
#include "tests/platform/RegistryValues.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One run of n messages through a modem that answers each after delayMs.
void Run(int n, int delayMs)
{
    char tmpl[] = "/var/tmp/velmo-cellgate-XXXXXX";
    std::string root = mkdtemp(tmpl);
    std::string folder = root + "/var/lib/velmo/";
    for (const char* f : {"out/sent", "out/failed", "in", "bad", "pickup"})
        std::filesystem::create_directories(folder + f);
    std::filesystem::create_directories(root + "/dev");
    if (SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo\\Ports", u"COM1",
                          velmo::Utf8ToUtf16(root + "/dev/ttyS0")) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cellgate_bench: COM1 cannot be mapped in the registry\n");
        return;
    }

    std::fflush(stdout);  // the child must not write what is buffered here
    pid_t sim = fork();
    if (sim == 0) {
        std::string link = "--link=" + root + "/dev/ttyS0";
        std::string delay = "--delay=" + std::to_string(delayMs);
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(VELMO_MODEMSIM, "modemsim", link.c_str(), delay.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    while (!std::filesystem::exists(root + "/dev/ttyS0"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    // Never deleted: its threads may still unwind when the run ends.
    auto* service = new velmo::host::ServiceModule(velmo::Utf8ToUtf16(folder));
    service->mainThreadId = GetCurrentThreadId();
    service->dispatcher.Devices().Add(
        1, u"Modem", velmo::MakeGuid("{852F907B-3A8B-4CF5-B19D-8B813B2F7367}"),
        u"<device><param name='Port' value='1'/><param name='CommConfig' value='96,n,8,1'/>"
        u"<param name='SMSCentral' value='+491710760000'/></device>");
    service->dispatcher.Devices().SetDefaultDevice(1);
    service->dispatcher.Start();
    // The modem is opened before the clock starts: only sending is measured.
    velmo::Bstr to(u"+491711234567"), body(u"Disk usage on host db1 is above 90 percent");
    service->dispatcher.QueueMessage(to, body, nullptr);
    while (service->dispatcher.InFlight() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));

    auto start = Clock::now();
    double cpu0 = CpuSeconds();
    for (int i = 0; i < n; ++i)
        service->dispatcher.QueueMessage(to, body, nullptr);
    while (service->dispatcher.InFlight() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = CpuSeconds() - cpu0;
    service->dispatcher.Stop();
    service->dispatcher.Devices().Clear();
    std::size_t sent = 0;
    for (auto& e : std::filesystem::directory_iterator(folder + "out/sent"))
        sent += e.is_regular_file();
    double each = seconds / n * 1000;
    std::printf("modem answering after %4d ms: %d messages (%zu sent) in %.2f s: %.0f messages/minute, %.1f ms each, "
                "of which the gateway's own %.1f ms; %.2f ms CPU each in the service\n",
                delayMs, n, sent - 1, seconds, n / seconds * 60, each, each - delayMs, cpu / n * 1000);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(root);
}

}  // namespace

int main(int argc, char** argv)
{
    int instant = argc > 1 ? std::atoi(argv[1]) : 200;
    int slow = argc > 2 ? std::atoi(argv[2]) : 20;
    char tmpl[] = "/var/tmp/velmo-cellgate-reg-XXXXXX";
    std::string sysroot = mkdtemp(tmpl);
    setenv("VELMO_SYSROOT", sysroot.c_str(), 1);
    std::string error;
    HMODULE module = velmo::LoadModule(VELMO_CELLGATE, &error);
    auto reg =
        module ? reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer")) : nullptr;
    if (reg)
        reg();  // the catalogue step fails without Rigstock; the class entries are what counts here
    Run(instant, 0);
    Run(slow, 1000);
    std::filesystem::remove_all(sysroot);
    velmo::ExitProcess(0);
}
