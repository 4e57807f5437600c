// The GSM device's own cost per message, on top of the modem's: a timed
// program that runs a service core in process with the Cellgate device on
// modemsim, queues the messages and waits until each has been reported.
// Two runs: a modem that answers each message at once, and one that takes
// 1 s per message, as a real modem on a real network does.
//
//   cellgate_bench [INSTANT_COUNT [SLOW_COUNT [REPORTED_COUNT]]]   (default 200, 20 and 1000)
//
// The same with status reports asked for and sent by the modem half a
// second after each message: REPORTED_COUNT through a modem that answers at
// once, every one of which must end DELIVERED with one report, and
// SLOW_COUNT through the 1 s modem, for the device's own time.
//
// Then the device's start-up at the design's waits, for a well-behaved
// modem and for modems with the quirks the device adapts to.
#include "messagefile/MessageRecord.h"
#include "platform/Activation.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "service/host/ServiceModule.h"
#include "tests/platform/RegistryValues.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A service core in process with one Cellgate device on a modemsim line,
// in a root folder of its own; the modem runs with the options given.
struct Bench {
    std::string root, folder;
    pid_t sim = -1;
    velmo::host::ServiceModule* service = nullptr;

    explicit Bench(const std::vector<std::string>& modemOptions)
    {
        char tmpl[] = "/var/tmp/velmo-cellgate-XXXXXX";
        root = mkdtemp(tmpl);
        folder = root + "/var/lib/velmo/";
        for (const char* f : {"out/sent", "out/failed", "in", "bad", "pickup"})
            std::filesystem::create_directories(folder + f);
        std::filesystem::create_directories(root + "/dev");
        if (SetRegistryString(velmo::Hive::LocalMachine, u"Software\\Norvane\\Velmo\\Ports", u"COM1",
                              velmo::Utf8ToUtf16(root + "/dev/ttyS0")) != ERROR_SUCCESS)
            std::fprintf(stderr, "cellgate_bench: COM1 cannot be mapped in the registry\n");
        std::fflush(stdout);  // the child must not write what is buffered here
        sim = fork();
        if (sim == 0) {
            std::vector<std::string> args{"modemsim", "--link=" + root + "/dev/ttyS0"};
            args.insert(args.end(), modemOptions.begin(), modemOptions.end());
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            if (!std::freopen("/dev/null", "w", stdout))
                _exit(127);
            execv(VELMO_MODEMSIM, argv.data());
            _exit(127);
        }
        while (!std::filesystem::exists(root + "/dev/ttyS0"))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // Never deleted: its threads may still unwind when the run ends.
        service = new velmo::host::ServiceModule(velmo::Utf8ToUtf16(folder));
        service->mainThreadId = GetCurrentThreadId();
    }
    ~Bench()
    {
        service->dispatcher.Stop();
        service->dispatcher.Devices().Clear();
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
        std::filesystem::remove_all(root);
    }
    // Adds the device with these parameters and starts the dispatcher.
    void Start(const std::u16string& params)
    {
        service->dispatcher.Devices().Add(1, u"Modem", velmo::MakeGuid("{852F907B-3A8B-4CF5-B19D-8B813B2F7367}"),
                                          u"<device><param name='Port' value='1'/>" + params + u"</device>");
        service->dispatcher.Devices().SetDefaultDevice(1);
        service->dispatcher.Start();
    }
    void Queue(int n)
    {
        velmo::Bstr to(u"+491711234567"), body(u"Disk usage on host db1 is above 90 percent");
        for (int i = 0; i < n; ++i)
            service->dispatcher.QueueMessage(to, body, nullptr);
    }
    void WaitUntilDone()
    {
        while (service->dispatcher.InFlight() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

const char16_t kParams[] =
    u"<param name='CommConfig' value='96,n,8,1'/><param name='SMSCentral' value='+491710760000'/>";

const char16_t kReportParams[] = u"<param name='StatusReport' value='1'/>";

// The sent messages that ended DELIVERED with exactly one report, and all
// sent messages.
std::pair<std::size_t, std::size_t> Delivered(const std::string& folder)
{
    std::size_t delivered = 0, sent = 0;
    for (auto& e : std::filesystem::directory_iterator(folder + "out/sent")) {
        auto* r = new velmo::messagefile::MessageRecord();
        if (SUCCEEDED(r->LoadFromFile(velmo::Utf8ToUtf16(e.path().string())))) {
            std::u16string text = r->StatusText.str();
            std::size_t once = text.find(u"Delivered to the phone");
            delivered += r->Status == DELIVERED && once != std::u16string::npos &&
                         text.find(u"Delivered to the phone", once + 1) == std::u16string::npos;
        }
        ++sent;
        r->Release();
    }
    return {delivered, sent};
}

// One run of n messages through a modem that answers each after delayMs;
// with reports, each asks for one and the run waits for them all.
void Run(int n, int delayMs, bool reports = false)
{
    std::vector<std::string> modem{"--delay=" + std::to_string(delayMs)};
    if (reports)
        modem.push_back("--report-delay=500");
    Bench bench(modem);
    bench.Start(std::u16string(kParams) + (reports ? kReportParams : u""));
    // The modem is opened before the clock starts: only sending is measured.
    bench.Queue(1);
    bench.WaitUntilDone();

    auto start = Clock::now();
    double cpu0 = CpuSeconds();
    bench.Queue(n);
    bench.WaitUntilDone();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = CpuSeconds() - cpu0;
    std::size_t sent = 0;
    for (auto& e : std::filesystem::directory_iterator(bench.folder + "out/sent"))
        sent += e.is_regular_file();
    double each = seconds / n * 1000;
    std::printf("modem answering after %4d ms%s: %d messages (%zu sent) in %.2f s: %.0f messages/minute, %.1f ms "
                "each, of which the gateway's own %.1f ms; %.2f ms CPU each in the service\n",
                delayMs, reports ? ", with reports" : "", n, sent - 1, seconds, n / seconds * 60, each, each - delayMs,
                cpu / n * 1000);
    if (!reports)
        return;
    auto [delivered, all] = Delivered(bench.folder);
    while (delivered < all && Clock::now() - start < std::chrono::seconds(n + 60)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::tie(delivered, all) = Delivered(bench.folder);
    }
    double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  every report in after %.2f s: %zu of %zu sent messages DELIVERED with one report each%s\n", total,
                delivered, all, delivered == all ? "" : " (NOT ALL)");
}

// The start-up of the device at the design's waits: from the start of the
// dispatcher until a message queued right after it has been sent, the
// best and the worst of three starts.
void StartUp(const char* name, const std::vector<std::string>& modem, const std::u16string& params)
{
    double best = 1e9, worst = 0;
    for (int i = 0; i < 3; ++i) {
        Bench bench(modem);
        auto start = Clock::now();
        bench.Start(params);
        bench.Queue(1);
        while (std::filesystem::is_empty(bench.folder + "out/sent") && Clock::now() - start < std::chrono::seconds(60))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (std::filesystem::is_empty(bench.folder + "out/sent"))
            std::printf("start-up %s: the message was not sent within 60 s\n", name);
        best = std::min(best, ms);
        worst = std::max(worst, ms);
    }
    std::printf("start-up to the first message sent, %-34s %6.0f ms (worst of 3: %.0f ms)\n", name, best, worst);
}

}  // namespace

int main(int argc, char** argv)
{
    int instant = argc > 1 ? std::atoi(argv[1]) : 200;
    int slow = argc > 2 ? std::atoi(argv[2]) : 20;
    int reported = argc > 3 ? std::atoi(argv[3]) : 1000;
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
    Run(reported, 0, true);
    Run(slow, 1000, true);
    const std::u16string own = u"<param name='CommConfig' value='96,n,8,1'/>";
    StartUp("well-behaved modem:", {}, kParams);
    StartUp("well-behaved, the SIM's service centre:", {}, own);
    StartUp("AT+CPIN? without OK:", {"--cpin-final=off"}, kParams);
    StartUp("AT+CSCS refused:", {"--refuse=AT+CSCS", "--refuse-with=COMMAND NOT SUPPORT"}, kParams);
    StartUp("AT+CNMI and AT+CPMS refused:", {"--refuse=AT+CNMI|AT+CPMS"}, kParams);
    StartUp("phone memory (ME):", {"--storage=ME", "--storages=SM,ME,MT"}, kParams);
    StartUp("every quirk:",
            {"--cpin-final=off", "--refuse=AT+CSCS|AT+CNMI|AT+CPMS|AT+CMEE|ATS0", "--refuse-with=COMMAND NOT SUPPORT",
             "--storage=ME", "--storages=ME", "--sim-busy=300"},
            own);
    std::filesystem::remove_all(sysroot);
    velmo::ExitProcess(0);
}
