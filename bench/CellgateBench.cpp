// Messages per minute through the GSM device and modemsim with no modem
// delay: how much of the modem's time the device itself costs. A timed
// program: it starts modemsim, runs a service core in process with the
// Cellgate device on it, queues the messages and prints its figures.
#include "platform/Activation.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

} // namespace

int main(int argc, char** argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 100;
    char tmpl[] = "/var/tmp/velmo-cellgate-XXXXXX";
    std::string root = mkdtemp(tmpl);
    setenv("VELMO_SYSROOT", root.c_str(), 1);
    std::string folder = root + "/var/lib/velmo/";
    for (const char* f : {"out/sent", "out/failed", "in", "bad", "pickup"})
        std::filesystem::create_directories(folder + f);
    std::filesystem::create_directories(root + "/dev");
    std::string error;
    HMODULE module = velmo::LoadModule(VELMO_CELLGATE, &error);
    auto reg = module ? reinterpret_cast<PFN_DllRegisterServer>(velmo::ModuleSymbol(module, "DllRegisterServer")) : nullptr;
    if (reg)
        reg();  // the catalogue step fails without Rigstock; the class entries are what counts here

    pid_t sim = fork();
    if (sim == 0) {
        std::string link = "--link=" + root + "/dev/ttyS0";
        std::freopen("/dev/null", "w", stdout);
        execl(VELMO_MODEMSIM, "modemsim", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    while (!std::filesystem::exists(root + "/dev/ttyS0"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    velmo::host::ServiceModule service;
    service.rootFolder = velmo::Utf8ToUtf16(folder);
    service.mainThreadId = GetCurrentThreadId();
    service.dispatcher.AddDevice(1, u"Modem", velmo::MakeGuid("{852F907B-3A8B-4CF5-B19D-8B813B2F7367}"),
                                 u"<device><param name='Port' value='1'/><param name='CommConfig' value='96,n,8,1'/>"
                                 u"<param name='SMSCentral' value='+491710760000'/></device>");
    service.dispatcher.SetDefaultDevice(1);
    service.dispatcher.Start();

    auto start = Clock::now();
    double cpu0 = CpuSeconds();
    velmo::Bstr to(u"+491711234567"), body(u"Disk usage on host db1 is above 90 percent");
    for (int i = 0; i < n; ++i)
        service.dispatcher.QueueMessage(to, body, nullptr);
    while (service.dispatcher.InFlight() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = CpuSeconds() - cpu0;
    service.dispatcher.Stop();
    std::size_t sent = 0;
    for (auto& e : std::filesystem::directory_iterator(folder + "out/sent"))
        sent += e.is_regular_file();
    std::printf("Cellgate on modemsim: %d messages (%zu sent) in %.2f s: %.0f messages/minute, %.0f ms each, "
                "%.2f ms CPU each in the service\n",
                n, sent, seconds, n / seconds * 60, seconds / n * 1000, cpu / n * 1000);
    std::printf("per message the design waits 100 ms before the PDU and reads with a 100 ms inter-byte time-out\n");
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(root);
    velmo::ExitProcess(0);
}
